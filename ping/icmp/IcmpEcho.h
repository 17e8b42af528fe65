#pragma once

// One ICMP echo request over an ICMP socket, without Qt: used by the Ping library in its
// own process and by its privileged helper program.

#include <cstddef>
#include <cstdint>

namespace pingocx::icmp {

// The data of every echo request: 24 single-byte characters, no terminator.
inline constexpr char kEchoPayload[] = "Echo this string of data";
inline constexpr std::size_t kEchoPayloadSize = sizeof(kEchoPayload) - 1;
static_assert(kEchoPayloadSize == 24);

enum class SocketKind {
    Datagram, // "ping socket": allowed where net.ipv4.ping_group_range holds the user's group
    Raw,      // needs CAP_NET_RAW
};

struct EchoOutcome
{
    bool replied = false;
    uint32_t status = 0;    // IP status when no reply came (0: failed without a reason)
    uint32_t rttMs = 0;     // whole milliseconds, when replied
    uint64_t rttMicros = 0; // the same, finer (for measurements)
};

// Opens a socket of that kind (close-on-exec); -1 with errno set when not allowed.
int openIcmpSocket(SocketKind kind);

// Sends one echo request to destination (IPv4, network byte order) over fd and waits at
// most timeoutMs in total for the matching reply or error report, whatever else arrives.
// identifier is used on raw sockets only (a ping socket's identifier is its port).
EchoOutcome sendEcho(int fd, SocketKind kind, uint32_t destination, uint32_t timeoutMs,
                     uint16_t identifier, uint16_t sequence);

// The Internet checksum (RFC 1071) of len bytes.
uint16_t internetChecksum(const void *data, std::size_t len);

} // namespace pingocx::icmp
