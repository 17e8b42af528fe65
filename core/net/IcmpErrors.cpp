#include "core/net/IcmpErrors.h"

#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tarvex::net {

int readErrorQueue(int fd, int limit, const ErrorMessageVisitor &take)
{
    int taken = 0;
    for (; taken < limit; ++taken) {
        unsigned char data[576];
        unsigned char control[512];
        sockaddr_in destination{};
        iovec iov{data, sizeof data};
        msghdr msg{};
        msg.msg_name = &destination;
        msg.msg_namelen = sizeof destination;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (got < 0)
            break; // EAGAIN: the queue is empty
        take(msg, data, std::size_t(got));
    }
    return taken;
}

bool forEachReport(const msghdr &msg, const std::function<bool(const QueuedError &)> &take)
{
    QueuedError report;
    if (msg.msg_name && msg.msg_namelen >= sizeof(sockaddr_in)) {
        sockaddr_in to;
        std::memcpy(&to, msg.msg_name, sizeof to);
        if (to.sin_family == AF_INET) {
            report.destination = to.sin_addr.s_addr;
            report.port = to.sin_port;
        }
    }
    const auto *controlEnd =
        static_cast<const unsigned char *>(msg.msg_control) + msg.msg_controllen;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(const_cast<msghdr *>(&msg), c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err ee;
        if (c->cmsg_len < CMSG_LEN(sizeof ee) || CMSG_DATA(c) + sizeof ee > controlEnd)
            continue;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        report.origin = ee.ee_origin;
        report.type = ee.ee_type;
        report.code = ee.ee_code;
        report.error = ee.ee_errno;
        if (take(report))
            return true;
    }
    return false;
}

int readQueuedErrors(int fd, int limit, const std::function<void(const QueuedError &)> &take)
{
    return readErrorQueue(fd, limit, [&](const msghdr &msg, const unsigned char *, std::size_t) {
        forEachReport(msg, [&](const QueuedError &report) {
            take(report);
            return false;
        });
    });
}

} // namespace tarvex::net
