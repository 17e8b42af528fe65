#pragma once

// The pieces of an ICMP echo request over an ICMP socket, without Qt: the socket, the
// packet, and what each thing that arrives says about a request. Used by the Ping library
// in its own process and by its privileged helper program (see EchoSession.h).

#include <cstddef>
#include <cstdint>
#include <functional>

#include "Checksum.h"

struct msghdr;

namespace pingocx::icmp {

// The data of every echo request: 24 single-byte characters, no terminator.
inline constexpr char kEchoPayload[] = "Echo this string of data";
inline constexpr std::size_t kEchoPayloadSize = sizeof(kEchoPayload) - 1;
static_assert(kEchoPayloadSize == 24);

enum class SocketKind {
    Datagram, // "ping socket": allowed where net.ipv4.ping_group_range holds the user's group
    Raw, // needs CAP_NET_RAW
};

struct EchoOutcome
{
    bool replied = false;
    uint32_t status = 0; // IP status when no reply came (0: failed without a reason)
    uint32_t rttMs = 0; // whole milliseconds, when replied
    uint64_t rttMicros = 0; // the same, finer (for measurements)
};

// Opens a socket of that kind (close-on-exec); -1 with errno set when not allowed.
int openIcmpSocket(SocketKind kind);

// An echo request as sent: the 8-byte ICMP header, then the payload.
inline constexpr std::size_t kEchoPacketSize = 8 + kEchoPayloadSize;

// Sets a fresh socket up for echo requests: a raw socket keeps only the ICMP types that can
// answer one; a ping socket reports ICMP errors on its error queue.
void prepareIcmpSocket(int fd, SocketKind kind);
// Writes an echo request with that identifier and sequence (network byte order), payload
// and checksum into packet (kEchoPacketSize bytes).
void buildEchoRequest(unsigned char *packet, uint16_t idNet, uint16_t seqNet);

// What an echo session makes of each thing that arrives while it waits, kept apart from the socket
// calls so that it can be checked on its own. Addresses, identifier and sequence are in
// network byte order, as on the wire.

// A packet from a raw socket (IP header, then ICMP), sent by from: true when it settles the
// request to destination with that identifier and sequence, *isReply telling the echo
// reply from an error report that quotes the request (whose status goes to *status).
// Anything else (another process's echo, a truncated packet) is false.
bool inspectRawPacket(const unsigned char *buf, std::size_t len, uint32_t destination,
                      uint32_t from, uint16_t idNet, uint16_t seqNet, uint32_t *status,
                      bool *isReply);

// A packet from a ping socket (ICMP only; the kernel has matched the identifier): whether
// it is the echo reply to the request with that sequence.
bool isDatagramReply(const unsigned char *buf, std::size_t len, uint32_t destination, uint32_t from,
                     uint16_t seqNet);

// One message from a ping socket's error queue, whose data (our request's echo header, when
// the kernel queued it) is dataLen bytes long: true with *status when one of its control
// messages is a final report about the request with that sequence.
bool inspectErrorQueueMessage(const msghdr &msg, std::size_t dataLen, uint16_t seqNet,
                              uint32_t *status);

// Takes at most limit messages off a ping socket's error queue, without waiting, and hands
// each to take with its data (our request's echo header, when the kernel queued it).
using ErrorQueueVisitor =
    std::function<void(const msghdr &msg, const unsigned char *data, std::size_t len)>;
void readErrorQueue(int fd, int limit, const ErrorQueueVisitor &take);

} // namespace pingocx::icmp
