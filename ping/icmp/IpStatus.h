#pragma once

// Every translation from what Linux reports about an echo request to the IP status codes
// of the Windows echo API, and from a status to the text that Send answers. One place, so
// that the library, its helper program and the tests agree.

#include <cstdint>
#include <optional>
#include <string>

namespace pingocx::icmp {

enum IpStatus : uint32_t {
    IP_SUCCESS = 0, // also: a failure that gave no reason
    IP_DEST_NET_UNREACHABLE = 11002,
    IP_DEST_HOST_UNREACHABLE = 11003,
    IP_DEST_PROT_UNREACHABLE = 11004,
    IP_DEST_PORT_UNREACHABLE = 11005,
    IP_NO_RESOURCES = 11006,
    IP_PACKET_TOO_BIG = 11009,
    IP_REQ_TIMED_OUT = 11010,
    IP_BAD_ROUTE = 11012,
    IP_TTL_EXPIRED_TRANSIT = 11013,
    IP_TTL_EXPIRED_REASSEM = 11014,
    IP_PARAM_PROBLEM = 11015,
    IP_SOURCE_QUENCH = 11016,
    IP_BAD_DESTINATION = 11018,
    IP_GENERAL_FAILURE = 11050,
};

// The status for an ICMP message that quotes our echo request. No value when the message
// does not end the wait (a redirect, or a type that is no error report).
std::optional<uint32_t> statusFromIcmpError(uint8_t type, uint8_t code);

// The status for an errno with which sending the request failed at once.
uint32_t statusFromSendErrno(int error);

// What Send answers when no reply came: "Timed Out", "Failed, Error: 11003", ...
std::string resultTextForStatus(uint32_t status);

} // namespace pingocx::icmp
