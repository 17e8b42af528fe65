#include "IcmpEcho.h"

#include "IpStatus.h"
#include "core/net/IcmpErrors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>

namespace pingocx::icmp {

namespace {

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

// A raw socket sees every ICMP packet of the host: keep only replies and error reports.
void installRawFilter(int fd)
{
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH)
                    | (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    // Without the filter the matching below still holds; the filter only saves work.
    (void)setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
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
    tarvex::net::readErrorQueue(fd, limit, take);
}

bool inspectErrorQueueMessage(const msghdr &msg, std::size_t dataLen, uint16_t seqNet,
                              uint32_t *status)
{
    // The queued data is our own echo header: check it is about this request.
    const auto *data = static_cast<const unsigned char *>(msg.msg_iov[0].iov_base);
    if (dataLen >= kIcmpHeaderSize && readHeader(data).sequence != seqNet)
        return false;
    return tarvex::net::forEachReport(msg, [status](const tarvex::net::QueuedError &report) {
        if (report.origin == SO_EE_ORIGIN_ICMP) {
            if (const auto mapped = statusFromIcmpError(report.type, report.code)) {
                *status = *mapped;
                return true;
            }
        } else if (report.origin == SO_EE_ORIGIN_LOCAL && report.error != 0) {
            *status = statusFromSendErrno(int(report.error));
            return true;
        }
        return false;
    });
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

} // namespace pingocx::icmp
