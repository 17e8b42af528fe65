#pragma once

// Reading the error queue of a socket with IP_RECVERR: the ICMP errors (and local send
// failures) the kernel queued for datagrams sent from it. Plain POSIX, no Qt, so that the
// Ping library and its helper program compile the same file into themselves.

#include <cstddef>
#include <cstdint>
#include <functional>

struct msghdr;

namespace tarvex::net {

// One error report.
struct QueuedError
{
    uint32_t destination = 0; // where the datagram went, network byte order
    uint16_t port = 0; // its destination port, network byte order (0 for ICMP sockets)
    uint8_t origin = 0; // SO_EE_ORIGIN_ICMP for an ICMP error, SO_EE_ORIGIN_LOCAL for a local one
    uint8_t type = 0; // ICMP type and code
    uint8_t code = 0;
    uint32_t error = 0; // the errno it stands for (ECONNREFUSED for port unreachable...)
};

// Takes at most limit messages off fd's error queue, without waiting, and hands each to take
// with its data (the start of the datagram that caused it, as far as the kernel queued
// it). Returns the number taken.
using ErrorMessageVisitor =
    std::function<void(const msghdr &msg, const unsigned char *data, std::size_t len)>;
int readErrorQueue(int fd, int limit, const ErrorMessageVisitor &take);

// Hands every whole report one such message carries to take, in order, until take returns
// true; a report cut short (its control buffer was too small) is skipped. True when take
// returned true.
bool forEachReport(const msghdr &msg, const std::function<bool(const QueuedError &)> &take);

// Both of the above: every report of at most limit queued messages. Returns the number of
// messages taken.
int readQueuedErrors(int fd, int limit, const std::function<void(const QueuedError &)> &take);

} // namespace tarvex::net
