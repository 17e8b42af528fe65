#pragma once

// Many echo requests outstanding at once on one ICMP socket, each matched to its answer by
// sequence (and, on a raw socket, identifier and destination) and each with its own
// deadline. Without Qt and without threads: the owner polls fd() and calls receive() and
// expire(). Used by the Ping library's parallel runs and by its helper program.

#include "IcmpEcho.h"

#include <chrono>
#include <cstdint>
#include <time.h>
#include <unordered_map>
#include <vector>

namespace pingocx::icmp {

using EchoClock = std::chrono::steady_clock;

struct SettledEcho
{
    uint64_t token = 0; // the caller's name for the request
    EchoOutcome outcome;
};

class EchoSession
{
public:
    // Takes fd (an ICMP socket of that kind) and closes it when destroyed. identifier is
    // used on raw sockets only (a ping socket's identifier is its port).
    EchoSession(int fd, SocketKind kind, uint16_t identifier);
    ~EchoSession();
    EchoSession(const EchoSession &) = delete;
    EchoSession &operator=(const EchoSession &) = delete;

    int fd() const { return m_fd; }

    // Sends one request now. A request that cannot be sent (sendto fails, or every
    // sequence number is taken) is settled at once into settled.
    void send(uint64_t token, uint32_t destination, uint32_t timeoutMs,
              std::vector<SettledEcho> &settled);
    // Reads everything queued on the socket and settles the requests it answers.
    void receive(std::vector<SettledEcho> &settled);
    // Settles as timed out every request whose deadline is not after now.
    void expire(EchoClock::time_point now, std::vector<SettledEcho> &settled);

    std::size_t outstanding() const { return m_pending.size(); }
    // The earliest deadline of an outstanding request (time_point::max() when none).
    EchoClock::time_point nextDeadline() const;

    // At most this many requests are outstanding at once (sequences must stay unique).
    static constexpr std::size_t kMaxOutstanding = 32768;

private:
    struct Pending
    {
        uint64_t token;
        uint32_t destination;
        EchoClock::time_point sent;
        EchoClock::time_point deadline;
    };

    void settle(uint16_t seqNet, const EchoOutcome &outcome, std::vector<SettledEcho> &settled);
    void drainErrorQueue(std::vector<SettledEcho> &settled);

    int m_fd;
    SocketKind m_kind;
    uint16_t m_idNet;
    uint16_t m_nextSequence;
    std::unordered_map<uint16_t, Pending> m_pending; // by sequence, network byte order
};

// The sequence (network byte order) that a packet read from a raw socket is about: that of
// an echo reply, or that of the echo request quoted by an error report. False when the
// packet is too short to say.
bool rawPacketSequence(const unsigned char *buf, std::size_t len, uint16_t *seqNet);

// Sends one echo request to destination (IPv4, network byte order) on a session of its own
// over fd, which it takes and closes, and waits at most timeoutMs in total for the matching
// reply or error report, whatever else arrives. It looks at the socket at least once, even
// with a time-out of 0 (a loopback reply may already be there).
EchoOutcome echoOnce(int fd, SocketKind kind, uint32_t destination, uint32_t timeoutMs,
                     uint16_t identifier);

// The wait from now until when, for ppoll: zero once when has passed.
timespec until(EchoClock::time_point when, EchoClock::time_point now);

} // namespace pingocx::icmp
