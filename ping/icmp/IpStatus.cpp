#include "IpStatus.h"

#include <cerrno>

namespace pingocx::icmp {

namespace {
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kDestUnreachable = 3;
constexpr uint8_t kSourceQuench = 4;
constexpr uint8_t kTimeExceeded = 11;
constexpr uint8_t kParameterProblem = 12;
} // namespace

std::optional<uint32_t> statusFromIcmpError(uint8_t type, uint8_t code)
{
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0: // network unreachable
        case 6: // network unknown
        case 9: // network administratively prohibited
        case 11: // network unreachable for the type of service
            return IP_DEST_NET_UNREACHABLE;
        case 2: return IP_DEST_PROT_UNREACHABLE;
        case 3: return IP_DEST_PORT_UNREACHABLE;
        case 4: return IP_PACKET_TOO_BIG;
        case 5: return IP_BAD_ROUTE;
        default: // 1 host unreachable, 13 prohibited by filter, and every other code
            return IP_DEST_HOST_UNREACHABLE;
        }
    case kSourceQuench: return IP_SOURCE_QUENCH;
    case kTimeExceeded: return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kParameterProblem: return IP_PARAM_PROBLEM;
    case kEchoReply:
    default: // 5 redirect: the packet went on, keep waiting; anything else is no error
        return std::nullopt;
    }
}

uint32_t statusFromSendErrno(int error)
{
    switch (error) {
    case ENETUNREACH: return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH: return IP_DEST_HOST_UNREACHABLE;
    case EACCES: // a prohibit route, or a broadcast address
        return IP_BAD_DESTINATION;
    case EMSGSIZE: return IP_PACKET_TOO_BIG;
    case ENOBUFS:
    case ENOMEM: return IP_NO_RESOURCES;
    default: return IP_GENERAL_FAILURE;
    }
}

std::string resultTextForStatus(uint32_t status)
{
    switch (status) {
    case IP_SUCCESS: return "Can't Resolve HostName";
    case IP_DEST_NET_UNREACHABLE: return "Destination Net Unreachable";
    case IP_REQ_TIMED_OUT: return "Timed Out";
    case IP_BAD_DESTINATION: return "Bad Destination";
    default: return "Failed, Error: " + std::to_string(status);
    }
}

} // namespace pingocx::icmp
