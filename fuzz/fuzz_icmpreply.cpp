// The decoding of what an ICMP socket hands the Ping library while it waits for its
// echo: a raw socket's packet (IP header and ICMP), a ping socket's packet (ICMP only) and
// a message from a ping socket's error queue (its control messages and queued data).
//
// Input: 10 bytes of request (destination, identifier and sequence as on the wire, a
// byte whose lowest bit makes the packet come from another host, a byte choosing the
// decoder), then the packet; for the error queue two bytes give the control length, the
// control bytes follow and the rest is the queued data. Every buffer is allocated at its
// exact size, so a read past what arrived is an AddressSanitizer report.
//
// Beyond staying inside the buffers, every verdict is checked against the packet's own
// bytes: a reply is taken only when it answers our identifier and sequence and comes from
// the address we asked, an error report only when it quotes our request; and the same
// packet with another process's identifier is never taken.
#include "ping/icmp/IcmpEcho.h"
#include "ping/icmp/IpStatus.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

using namespace pingocx::icmp;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

uint16_t bytes16(const uint8_t *p)
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t bytes32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool isKnownStatus(uint32_t status)
{
    switch (status) {
    case IP_DEST_NET_UNREACHABLE:
    case IP_DEST_HOST_UNREACHABLE:
    case IP_DEST_PROT_UNREACHABLE:
    case IP_DEST_PORT_UNREACHABLE:
    case IP_NO_RESOURCES:
    case IP_PACKET_TOO_BIG:
    case IP_BAD_ROUTE:
    case IP_TTL_EXPIRED_TRANSIT:
    case IP_TTL_EXPIRED_REASSEM:
    case IP_PARAM_PROBLEM:
    case IP_SOURCE_QUENCH:
    case IP_BAD_DESTINATION:
    case IP_GENERAL_FAILURE: return true;
    default: return false;
    }
}

struct Request
{
    uint32_t destination;
    uint32_t from;
    uint16_t idNet;
    uint16_t seqNet;
};

void checkRaw(const Request &rq, const std::vector<uint8_t> &packet)
{
    uint32_t status = 0;
    bool isReply = false;
    if (!inspectRawPacket(packet.data(), packet.size(), rq.destination, rq.from, rq.idNet,
                          rq.seqNet, &status, &isReply))
        return;
    require(packet.size() >= 20);
    const std::size_t ihl = std::size_t(packet[0] & 0x0F) * 4;
    require(ihl >= 20 && packet.size() >= ihl + 8);
    const uint8_t *icmp = packet.data() + ihl;
    if (isReply) {
        require(icmp[0] == 0);
        require(rq.from == rq.destination);
        require(bytes16(icmp + 4) == rq.idNet && bytes16(icmp + 6) == rq.seqNet);
    } else {
        require(isKnownStatus(status));
        // The quoted request: IP header (protocol ICMP, our destination), then our echo.
        const uint8_t *quoted = icmp + 8;
        const std::size_t quotedLen = packet.size() - ihl - 8;
        require(quotedLen >= 20);
        const std::size_t innerIhl = std::size_t(quoted[0] & 0x0F) * 4;
        require(innerIhl >= 20 && quotedLen >= innerIhl + 8);
        require(quoted[9] == IPPROTO_ICMP && bytes32(quoted + 16) == rq.destination);
        const uint8_t *ours = quoted + innerIhl;
        require(ours[0] == 8 && bytes16(ours + 4) == rq.idNet && bytes16(ours + 6) == rq.seqNet);
        require(statusFromIcmpError(icmp[0], icmp[1]) == status);
    }

    // The same packet carrying another process's identifier (in the reply, or in the
    // request an error report quotes) settles nothing.
    std::vector<uint8_t> foreign = packet;
    const std::size_t idAt =
        isReply ? ihl + 4 : ihl + 8 + std::size_t(foreign[ihl + 8] & 0x0F) * 4 + 4;
    foreign[idAt] ^= 0x5A;
    uint32_t otherStatus = 0;
    bool otherReply = false;
    require(!inspectRawPacket(foreign.data(), foreign.size(), rq.destination, rq.from, rq.idNet,
                              rq.seqNet, &otherStatus, &otherReply));
}

void checkDatagram(const Request &rq, const std::vector<uint8_t> &packet)
{
    if (!isDatagramReply(packet.data(), packet.size(), rq.destination, rq.from, rq.seqNet))
        return;
    require(packet.size() >= 8 && packet[0] == 0);
    require(rq.from == rq.destination && bytes16(packet.data() + 6) == rq.seqNet);
}

void checkErrorQueue(const Request &rq, const uint8_t *data, std::size_t size)
{
    if (size < 2)
        return;
    const std::size_t controlLen = std::min<std::size_t>(bytes16(data), size - 2);
    // Control messages are aligned as the kernel aligns them: a fresh allocation is.
    auto *control = new unsigned char[controlLen ? controlLen : 1];
    std::memcpy(control, data + 2, controlLen);
    const std::size_t dataLen = size - 2 - controlLen;
    auto *queued = new unsigned char[dataLen ? dataLen : 1];
    std::memcpy(queued, data + 2 + controlLen, dataLen);

    iovec iov{queued, dataLen};
    sockaddr_in offender{};
    msghdr msg{};
    msg.msg_name = &offender;
    msg.msg_namelen = sizeof offender;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = controlLen;
    uint32_t status = 0;
    if (inspectErrorQueueMessage(msg, dataLen, rq.seqNet, &status)) {
        require(isKnownStatus(status));
        // When the kernel queued our echo header, it is about our sequence.
        if (dataLen >= 8)
            require(bytes16(queued + 6) == rq.seqNet);
        // Only a report of the error queue's own kind can carry one.
        require(controlLen >= sizeof(cmsghdr) + sizeof(sock_extended_err));
    }
    delete[] control;
    delete[] queued;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 10)
        return 0;
    Request rq;
    rq.destination = bytes32(data);
    rq.idNet = bytes16(data + 4);
    rq.seqNet = bytes16(data + 6);
    rq.from = (data[8] & 1) ? rq.destination ^ 0x01000000u : rq.destination;
    const uint8_t which = data[9] % 3;
    data += 10;
    size -= 10;
    if (which == 2) {
        checkErrorQueue(rq, data, size);
        return 0;
    }
    const std::vector<uint8_t> packet(data, data + size);
    if (which == 0)
        checkRaw(rq, packet);
    else
        checkDatagram(rq, packet);
    return 0;
}
