// pingocx-icmp-helper: sends one ICMP echo request for the Ping library when the user may
// open no ICMP socket of their own. Installed with the file capability cap_net_raw+ep (as
// Debian installs its ping). It opens its raw socket, drops every capability at once, and
// only then talks to the network.
//
// Usage: pingocx-icmp-helper <dotted IPv4 address> <time-out in ms, 0..2147483647>
// Nothing else is accepted. The answer is one line on standard output:
//   "R <replied 0|1> <IP status> <round trip in microseconds>"  after the echo
//   "E <errno>"                                                  when no raw socket can be had
// Exit status: 0 answered, 2 arguments refused, 3 no raw socket, 4 could not drop privileges.

#include "IcmpEcho.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Exactly four decimal parts of 0..255 (inet_pton is strict: no octal, hex or short forms).
bool parseAddress(const char *text, in_addr *out)
{
    return std::strlen(text) <= 15 && inet_pton(AF_INET, text, out) == 1;
}

bool parseTimeout(const char *text, unsigned long *out)
{
    const std::size_t len = std::strlen(text);
    if (len == 0 || len > 10)
        return false;
    unsigned long value = 0;
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + unsigned(text[i] - '0');
    }
    if (value > 2147483647ul)
        return false;
    *out = value;
    return true;
}

// Drops every capability (effective, permitted, inheritable, ambient) for good.
bool dropAllCapabilities()
{
    (void)prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, data) != 0)
        return false;
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    in_addr address{};
    unsigned long timeoutMs = 0;
    if (argc != 3 || !parseAddress(argv[1], &address) || !parseTimeout(argv[2], &timeoutMs)) {
        std::fputs("usage: pingocx-icmp-helper <a.b.c.d> <timeout-ms>\n", stderr);
        return 2;
    }

    using namespace pingocx::icmp;
    const int fd = openIcmpSocket(SocketKind::Raw);
    const int openError = errno;
    if (!dropAllCapabilities()) {
        std::fputs("pingocx-icmp-helper: cannot drop capabilities\n", stderr);
        return 4;
    }
    if (fd < 0) {
        std::printf("E %d\n", openError);
        std::fflush(stdout);
        return 3;
    }

    const EchoOutcome outcome =
        sendEcho(fd, SocketKind::Raw, address.s_addr, uint32_t(timeoutMs),
                 uint16_t(getpid() & 0xFFFF), 1);
    close(fd);
    std::printf("R %d %u %llu\n", outcome.replied ? 1 : 0, unsigned(outcome.status),
                static_cast<unsigned long long>(outcome.rttMicros));
    std::fflush(stdout);
    return 0;
}
