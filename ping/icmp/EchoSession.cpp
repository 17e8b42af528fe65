#include "EchoSession.h"

#include "IpStatus.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pingocx::icmp {

namespace {

constexpr std::size_t kIcmpHeaderSize = 8;

uint16_t sequenceAt(const unsigned char *p)
{
    uint16_t seq;
    std::memcpy(&seq, p + 6, sizeof seq);
    return seq;
}

EchoOutcome failedWith(uint32_t status)
{
    EchoOutcome o;
    o.status = status;
    return o;
}

} // namespace

bool rawPacketSequence(const unsigned char *buf, std::size_t len, uint16_t *seqNet)
{
    if (len < sizeof(iphdr))
        return false;
    const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
    if (ihl < sizeof(iphdr) || len < ihl + kIcmpHeaderSize)
        return false;
    if (buf[ihl] == 0) { // echo reply
        *seqNet = sequenceAt(buf + ihl);
        return true;
    }
    const unsigned char *quoted = buf + ihl + kIcmpHeaderSize;
    const std::size_t quotedLen = len - ihl - kIcmpHeaderSize;
    if (quotedLen < sizeof(iphdr))
        return false;
    const std::size_t innerIhl = std::size_t(quoted[0] & 0x0F) * 4;
    if (innerIhl < sizeof(iphdr) || quotedLen < innerIhl + kIcmpHeaderSize)
        return false;
    *seqNet = sequenceAt(quoted + innerIhl);
    return true;
}

EchoSession::EchoSession(int fd, SocketKind kind, uint16_t identifier)
    : m_fd(fd),
      m_kind(kind),
      m_idNet(htons(identifier))
{
    // Sequences start somewhere else in every session, so that a late answer to an
    // earlier session's request (same identifier) is unlikely to match a new one.
    m_nextSequence = uint16_t(EchoClock::now().time_since_epoch().count() >> 10);
    if (m_fd >= 0)
        prepareIcmpSocket(m_fd, m_kind);
}

EchoSession::~EchoSession()
{
    if (m_fd >= 0)
        close(m_fd);
}

EchoClock::time_point EchoSession::nextDeadline() const
{
    EchoClock::time_point next = EchoClock::time_point::max();
    for (const auto &entry : m_pending)
        next = std::min(next, entry.second.deadline);
    return next;
}

void EchoSession::settle(uint16_t seqNet, const EchoOutcome &outcome,
                         std::vector<SettledEcho> &settled)
{
    const auto it = m_pending.find(seqNet);
    if (it == m_pending.end())
        return;
    settled.push_back({it->second.token, outcome});
    m_pending.erase(it);
}

void EchoSession::send(uint64_t token, uint32_t destination, uint32_t timeoutMs,
                       std::vector<SettledEcho> &settled)
{
    if (m_fd < 0 || m_pending.size() >= kMaxOutstanding) {
        settled.push_back({token, failedWith(m_fd < 0 ? IP_SUCCESS : IP_NO_RESOURCES)});
        return;
    }
    uint16_t sequence = m_nextSequence++;
    while (m_pending.count(htons(sequence)))
        sequence = m_nextSequence++;
    const uint16_t seqNet = htons(sequence);

    unsigned char packet[kEchoPacketSize];
    buildEchoRequest(packet, m_idNet, seqNet);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const EchoClock::time_point sent = EchoClock::now();
    if (sendto(m_fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to)
        < 0) {
        settled.push_back({token, failedWith(statusFromSendErrno(errno))});
        return;
    }
    m_pending.emplace(
        seqNet, Pending{token, destination, sent, sent + std::chrono::milliseconds(timeoutMs)});
}

void EchoSession::drainErrorQueue(std::vector<SettledEcho> &settled)
{
    readErrorQueue(m_fd, 256, [&](const msghdr &msg, const unsigned char *data, std::size_t len) {
        // The queued data is our own request's echo header: its sequence says which one.
        if (len < kIcmpHeaderSize)
            return;
        const uint16_t seqNet = sequenceAt(data);
        uint32_t status = 0;
        if (m_pending.count(seqNet) && inspectErrorQueueMessage(msg, len, seqNet, &status))
            settle(seqNet, failedWith(status), settled);
    });
}

void EchoSession::receive(std::vector<SettledEcho> &settled)
{
    if (m_fd < 0)
        return;
    if (m_kind == SocketKind::Datagram)
        drainErrorQueue(settled);
    for (int guard = 0; guard < 1024; ++guard) {
        unsigned char buf[1500];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n = recvfrom(m_fd, buf, sizeof buf, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr *>(&from), &fromLen);
        const EchoClock::time_point received = EchoClock::now();
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK || m_kind != SocketKind::Datagram)
                break;
            // A queued error fails one normal receive: take it from the queue.
            drainErrorQueue(settled);
            continue;
        }
        const auto len = std::size_t(n);
        uint16_t seqNet = 0;
        if (m_kind == SocketKind::Raw) {
            if (!rawPacketSequence(buf, len, &seqNet))
                continue;
        } else {
            if (len < kIcmpHeaderSize)
                continue;
            seqNet = sequenceAt(buf);
        }
        const auto it = m_pending.find(seqNet);
        if (it == m_pending.end())
            continue;
        const Pending &p = it->second;
        uint32_t status = 0;
        bool isReply = false;
        if (m_kind == SocketKind::Raw) {
            if (!inspectRawPacket(buf, len, p.destination, from.sin_addr.s_addr, m_idNet, seqNet,
                                  &status, &isReply))
                continue;
        } else {
            if (!isDatagramReply(buf, len, p.destination, from.sin_addr.s_addr, seqNet))
                continue;
            isReply = true;
        }
        EchoOutcome outcome;
        if (isReply) {
            outcome.replied = true;
            const auto micros =
                std::chrono::duration_cast<std::chrono::microseconds>(received - p.sent).count();
            outcome.rttMicros = micros > 0 ? uint64_t(micros) : 0;
            outcome.rttMs = uint32_t(outcome.rttMicros / 1000);
        } else {
            outcome.status = status;
        }
        settle(seqNet, outcome, settled);
    }
}

void EchoSession::expire(EchoClock::time_point now, std::vector<SettledEcho> &settled)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second.deadline <= now) {
            settled.push_back({it->second.token, failedWith(IP_REQ_TIMED_OUT)});
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
}

EchoOutcome echoOnce(int fd, SocketKind kind, uint32_t destination, uint32_t timeoutMs,
                     uint16_t identifier)
{
    EchoSession session(fd, kind, identifier);
    std::vector<SettledEcho> settled;
    session.send(0, destination, timeoutMs, settled);
    while (settled.empty()) {
        const timespec wait = until(session.nextDeadline(), EchoClock::now());
        pollfd pfd{session.fd(), POLLIN, 0};
        if (ppoll(&pfd, 1, &wait, nullptr) < 0 && errno != EINTR)
            return failedWith(IP_GENERAL_FAILURE);
        session.receive(settled);
        if (settled.empty())
            session.expire(EchoClock::now(), settled);
    }
    return settled.front().outcome;
}

timespec until(EchoClock::time_point when, EchoClock::time_point now)
{
    const auto ns =
        when <= now ? 0 : std::chrono::duration_cast<std::chrono::nanoseconds>(when - now).count();
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

} // namespace pingocx::icmp
