// tarvex-icmp-responder: answers ICMP echo requests after a chosen delay, from a raw socket,
// to emulate a slow host inside a test's private network namespace (where the kernel's own
// answers are turned off with net.ipv4.icmp_echo_ignore_all=1).
//
// Usage: tarvex-icmp-responder --delay <ms> [--seconds <lifetime, default 120>]
//                              [--only <a.b.c.d>]...   (answer only requests to these)
// Prints "ready" once listening. Ends when standard input closes (its parent went away),
// after its lifetime, or after 100000 answers: it never runs unbounded.

#include "ping/icmp/Checksum.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Pending
{
    Clock::time_point due;
    in_addr to; // the requester
    in_addr from; // the address it asked
    std::string icmp; // the request's ICMP message, turned into a reply when sent
};

void sendReply(int fd, Pending &p)
{
    auto *msg = reinterpret_cast<unsigned char *>(p.icmp.data());
    msg[0] = 0; // echo reply, same code, identifier, sequence and data
    msg[2] = msg[3] = 0;
    const uint16_t sum = pingocx::icmp::internetChecksum(msg, p.icmp.size());
    std::memcpy(msg + 2, &sum, 2);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = p.to;
    iovec iov{msg, p.icmp.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr mh{};
    mh.msg_name = &to;
    mh.msg_namelen = sizeof to;
    mh.msg_iov = &iov;
    mh.msg_iovlen = 1;
    mh.msg_control = control;
    mh.msg_controllen = sizeof control;
    cmsghdr *c = CMSG_FIRSTHDR(&mh);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = p.from; // answer from the address that was asked
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (sendmsg(fd, &mh, 0) < 0)
        std::perror("tarvex-icmp-responder: sendmsg");
}

} // namespace

int main(int argc, char **argv)
{
    long delayMs = -1;
    long lifetime = 120;
    std::vector<in_addr_t> only;
    bool badAddress = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--delay") == 0) {
            delayMs = std::strtol(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            lifetime = std::strtol(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--only") == 0) {
            in_addr a{};
            badAddress |= inet_pton(AF_INET, argv[i + 1], &a) != 1;
            only.push_back(a.s_addr);
        }
    }
    if (delayMs < 0 || delayMs > 60000 || lifetime <= 0 || lifetime > 3600 || badAddress) {
        std::fputs("usage: tarvex-icmp-responder --delay <0..60000 ms> [--seconds <1..3600>]\n",
                   stderr);
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("tarvex-icmp-responder: raw socket");
        return 3;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const Clock::time_point end = Clock::now() + std::chrono::seconds(lifetime);
    std::deque<Pending> queue;
    long answered = 0;
    while (answered < 100000) {
        const Clock::time_point now = Clock::now();
        if (now >= end)
            break;
        while (!queue.empty() && queue.front().due <= now) {
            sendReply(fd, queue.front());
            queue.pop_front();
            ++answered;
        }
        Clock::time_point wake = queue.empty() ? end : std::min(end, queue.front().due);
        const auto waitMs =
            std::chrono::duration_cast<std::chrono::microseconds>(wake - now).count();
        timespec ts{time_t(waitMs / 1000000), long(waitMs % 1000000) * 1000};
        pollfd pfds[2] = {{fd, POLLIN, 0}, {0, POLLIN, 0}};
        const int ready = ppoll(pfds, 2, &ts, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (pfds[1].revents) { // standard input: closed or written to, either way: stop
            char c;
            if (read(0, &c, 1) <= 0)
                break;
        }
        if (!(pfds[0].revents & POLLIN))
            continue;
        unsigned char buf[2048];
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < ssize_t(sizeof(iphdr)))
            continue;
        iphdr ip;
        std::memcpy(&ip, buf, sizeof ip);
        const std::size_t ihl = std::size_t(ip.ihl) * 4;
        if (std::size_t(n) < ihl + 8 || buf[ihl] != 8 /* echo request */)
            continue;
        if (!only.empty() && std::find(only.begin(), only.end(), ip.daddr) == only.end())
            continue;
        Pending p;
        p.due = Clock::now() + std::chrono::milliseconds(delayMs);
        p.to.s_addr = ip.saddr;
        p.from.s_addr = ip.daddr;
        p.icmp.assign(reinterpret_cast<const char *>(buf + ihl), std::size_t(n) - ihl);
        queue.push_back(std::move(p));
    }
    close(fd);
    return 0;
}
