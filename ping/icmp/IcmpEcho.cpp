#include "IcmpEcho.h"

#include "IpStatus.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

namespace pingocx::icmp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kEchoRequestType = 8;
constexpr uint8_t kEchoReplyType = 0;
constexpr std::size_t kIcmpHeaderSize = 8;

struct EchoHeader
{
    uint8_t type;
    uint8_t code;
    uint16_t checksum;
    uint16_t identifier; // network byte order
    uint16_t sequence; // network byte order
};
static_assert(sizeof(EchoHeader) == kIcmpHeaderSize);

EchoHeader readHeader(const unsigned char *p)
{
    EchoHeader h;
    std::memcpy(&h, p, sizeof h);
    return h;
}

EchoOutcome failed(uint32_t status)
{
    EchoOutcome o;
    o.status = status;
    return o;
}

EchoOutcome replied(Clock::time_point sent, Clock::time_point received)
{
    EchoOutcome o;
    o.replied = true;
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(received - sent).count();
    o.rttMicros = micros > 0 ? uint64_t(micros) : 0;
    o.rttMs = uint32_t(o.rttMicros / 1000); // whole milliseconds, cut, not rounded
    return o;
}

// A raw socket sees every ICMP packet of the host: keep only replies and error reports.
void installRawFilter(int fd)
{
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH)
                    | (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    // Without the filter the matching below still holds; the filter only saves work.
    (void)setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
}

// Reads every report waiting on a ping socket's error queue. Returns true with the status
// when one of them is a final report about our request.
bool drainErrorQueue(int fd, uint16_t seqNet, uint32_t *status)
{
    bool found = false;
    readErrorQueue(fd, 64, [&](const msghdr &msg, const unsigned char *, std::size_t len) {
        // The first final report counts; the others are only taken off the queue.
        if (!found && inspectErrorQueueMessage(msg, len, seqNet, status))
            found = true;
    });
    return found;
}

timespec toTimespec(Clock::duration d)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

} // namespace

bool inspectRawPacket(const unsigned char *buf, std::size_t len, uint32_t destination,
                      uint32_t from, uint16_t idNet, uint16_t seqNet, uint32_t *status,
                      bool *isReply)
{
    if (len < sizeof(iphdr))
        return false;
    const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
    if (ihl < sizeof(iphdr) || len < ihl + kIcmpHeaderSize)
        return false;
    const EchoHeader icmp = readHeader(buf + ihl);
    if (icmp.type == kEchoReplyType) {
        if (from == destination && icmp.identifier == idNet && icmp.sequence == seqNet) {
            *isReply = true;
            return true;
        }
        return false;
    }
    // An error report quotes the IP header and the first 8 bytes of our request.
    const unsigned char *quoted = buf + ihl + kIcmpHeaderSize;
    const std::size_t quotedLen = len - ihl - kIcmpHeaderSize;
    if (quotedLen < sizeof(iphdr))
        return false;
    iphdr inner;
    std::memcpy(&inner, quoted, sizeof inner);
    const std::size_t innerIhl = std::size_t(inner.ihl) * 4;
    if (innerIhl < sizeof(iphdr) || quotedLen < innerIhl + kIcmpHeaderSize)
        return false;
    if (inner.protocol != IPPROTO_ICMP || inner.daddr != destination)
        return false;
    const EchoHeader ours = readHeader(quoted + innerIhl);
    if (ours.type != kEchoRequestType || ours.identifier != idNet || ours.sequence != seqNet)
        return false;
    const auto mapped = statusFromIcmpError(icmp.type, icmp.code);
    if (!mapped)
        return false;
    *status = *mapped;
    *isReply = false;
    return true;
}

bool isDatagramReply(const unsigned char *buf, std::size_t len, uint32_t destination, uint32_t from,
                     uint16_t seqNet)
{
    if (len < kIcmpHeaderSize)
        return false;
    const EchoHeader reply = readHeader(buf);
    return reply.type == kEchoReplyType && reply.sequence == seqNet && from == destination;
}

void readErrorQueue(int fd, int limit, const ErrorQueueVisitor &take)
{
    for (int n = 0; n < limit; ++n) {
        unsigned char data[576];
        unsigned char control[512];
        sockaddr_in offender{};
        iovec iov{data, sizeof data};
        msghdr msg{};
        msg.msg_name = &offender;
        msg.msg_namelen = sizeof offender;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (got < 0)
            break; // EAGAIN: the queue is empty
        take(msg, data, std::size_t(got));
    }
}

bool inspectErrorQueueMessage(const msghdr &msg, std::size_t dataLen, uint16_t seqNet,
                              uint32_t *status)
{
    const auto *data = static_cast<const unsigned char *>(msg.msg_iov[0].iov_base);
    const auto *controlEnd =
        static_cast<const unsigned char *>(msg.msg_control) + msg.msg_controllen;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(const_cast<msghdr *>(&msg), c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err ee;
        // A report cut short (the control buffer was too small for it) holds no status.
        if (c->cmsg_len < CMSG_LEN(sizeof ee) || CMSG_DATA(c) + sizeof ee > controlEnd)
            continue;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        // The queued data is our own echo header: check it is about this request.
        if (dataLen >= kIcmpHeaderSize && readHeader(data).sequence != seqNet)
            continue;
        if (ee.ee_origin == SO_EE_ORIGIN_ICMP) {
            if (const auto mapped = statusFromIcmpError(ee.ee_type, ee.ee_code)) {
                *status = *mapped;
                return true;
            }
        } else if (ee.ee_origin == SO_EE_ORIGIN_LOCAL && ee.ee_errno != 0) {
            *status = statusFromSendErrno(int(ee.ee_errno));
            return true;
        }
    }
    return false;
}

void prepareIcmpSocket(int fd, SocketKind kind)
{
    if (kind == SocketKind::Raw) {
        installRawFilter(fd);
    } else {
        // Without IP_RECVERR a ping socket silently loses the ICMP errors of its requests.
        const int on = 1;
        (void)setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    }
}

void buildEchoRequest(unsigned char *packet, uint16_t idNet, uint16_t seqNet)
{
    EchoHeader header{kEchoRequestType, 0, 0, idNet, seqNet};
    std::memcpy(packet, &header, sizeof header);
    std::memcpy(packet + kIcmpHeaderSize, kEchoPayload, kEchoPayloadSize);
    header.checksum = internetChecksum(packet, kEchoPacketSize);
    std::memcpy(packet, &header, sizeof header);
}

int openIcmpSocket(SocketKind kind)
{
    const int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    return socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
}

EchoOutcome sendEcho(int fd, SocketKind kind, uint32_t destination, uint32_t timeoutMs,
                     uint16_t identifier, uint16_t sequence)
{
    if (fd < 0)
        return failed(IP_SUCCESS);

    prepareIcmpSocket(fd, kind);
    unsigned char packet[kEchoPacketSize];
    buildEchoRequest(packet, htons(identifier), htons(sequence));

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;

    const Clock::time_point sent = Clock::now();
    if (sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to)
        < 0)
        return failed(statusFromSendErrno(errno));

    uint16_t idNet = htons(identifier);
    if (kind == SocketKind::Datagram) {
        // The kernel puts the socket's port in place of the identifier and matches on it.
        sockaddr_in local{};
        socklen_t localLen = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLen) == 0)
            idNet = local.sin_port;
    }
    const uint16_t seqNet = htons(sequence);
    const Clock::time_point deadline = sent + std::chrono::milliseconds(timeoutMs);

    // At least one look, even with a time-out of 0 (a loopback reply may already be there).
    for (bool first = true;; first = false) {
        const Clock::time_point now = Clock::now();
        if (!first && now >= deadline)
            break;
        const timespec wait =
            toTimespec(now >= deadline ? Clock::duration::zero() : deadline - now);
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ppoll(&pfd, 1, &wait, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return failed(IP_GENERAL_FAILURE);
        }
        if (ready == 0) {
            if (Clock::now() >= deadline)
                break;
            continue;
        }
        if (kind == SocketKind::Datagram && (pfd.revents & POLLERR)) {
            uint32_t status = 0;
            if (drainErrorQueue(fd, seqNet, &status))
                return failed(status);
        }
        // Read everything that is queued; stop at the first packet that settles it.
        for (int guard = 0; guard < 256; ++guard) {
            unsigned char buf[1500];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr *>(&from), &fromLen);
            const Clock::time_point received = Clock::now();
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
                if (kind == SocketKind::Datagram) {
                    // A queued error fails one normal receive: take it from the queue.
                    uint32_t status = 0;
                    if (drainErrorQueue(fd, seqNet, &status))
                        return failed(status);
                    continue;
                }
                break;
            }
            if (kind == SocketKind::Raw) {
                uint32_t status = 0;
                bool isReply = false;
                if (inspectRawPacket(buf, std::size_t(n), destination, from.sin_addr.s_addr, idNet,
                                     seqNet, &status, &isReply))
                    return isReply ? replied(sent, received) : failed(status);
            } else if (isDatagramReply(buf, std::size_t(n), destination, from.sin_addr.s_addr,
                                       seqNet)) {
                return replied(sent, received);
            }
        }
    }
    return failed(IP_REQ_TIMED_OUT);
}

} // namespace pingocx::icmp
