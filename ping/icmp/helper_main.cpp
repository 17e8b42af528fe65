// pingocx-icmp-helper: sends ICMP echo requests for the Ping library when the user may open
// no ICMP socket of their own. Installed with the file capability cap_net_raw+ep (as Debian
// installs its ping). It opens its raw socket, drops every capability at once, and only
// then reads a request.
//
// It takes no arguments and talks over its standard input and output, one line each way
// per echo, for as long as its caller keeps the pipe open. First it writes one line:
//   "ready"        the socket is open
//   "E <errno>"    no raw socket can be had (it then exits)
// Then it reads requests, one per line, and accepts nothing else:
//   "echo <token> <a.b.c.d> <time-out in ms>"
// token: 1 to 18 decimal digits, the caller's name for the request; address: exactly four
// decimal parts, a unicast address (not 0.x.x.x, multicast or 240.0.0.0 and above);
// time-out: 0 to 2147483647. For each request it writes one line, in the order the answers
// come:
//   "<token> R <replied 0|1> <IP status> <round trip in microseconds>"
//   "<token or -> refused <request|address|timeout|busy>"   (nothing was sent)
// It sends at most one echo request every 2 ms, whatever it is asked (requests wait their
// turn, at most 4096 waiting or outstanding), only echo requests, only to the addresses it
// is given, and it reports only the answers to those requests.
// It ends as soon as its standard input closes or its output cannot be written.
// Exit status: 0 input closed, 2 arguments given, 3 no raw socket, 4 could not drop privileges.

#include "EchoSession.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <linux/capability.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using namespace pingocx::icmp;

constexpr auto kMinInterval = std::chrono::milliseconds(2);
constexpr std::size_t kMaxQueued = 4096;
constexpr std::size_t kMaxLine = 80;

struct Request
{
    uint64_t token;
    uint32_t destination;
    uint32_t timeoutMs;
};

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

bool parseDigits(const std::string &text, std::size_t maxDigits, uint64_t max, uint64_t *out)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > max)
        return false;
    *out = value;
    return true;
}

// A unicast IPv4 address in strict dotted form (inet_pton: no octal, hex or short forms).
bool parseAddress(const std::string &text, uint32_t *out)
{
    in_addr a{};
    if (text.size() > 15 || inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    const uint32_t first = ntohl(a.s_addr) >> 24;
    if (first == 0 || first >= 224)
        return false;
    *out = a.s_addr;
    return true;
}

// One request line: the request, or the reason for refusing it (and its token if known).
const char *parseRequest(const std::string &line, Request *request, std::string *tokenText)
{
    std::string fields[5];
    std::size_t count = 0, start = 0;
    while (count < 5) {
        const std::size_t blank = line.find(' ', start);
        fields[count++] = line.substr(start, blank == std::string::npos ? blank : blank - start);
        if (blank == std::string::npos)
            break;
        start = blank + 1;
    }
    if (count != 4 || fields[0] != "echo"
        || !parseDigits(fields[1], 18, UINT64_MAX, &request->token))
        return "request";
    *tokenText = fields[1];
    if (!parseAddress(fields[2], &request->destination))
        return "address";
    uint64_t timeout = 0;
    if (!parseDigits(fields[3], 10, 2147483647u, &timeout))
        return "timeout";
    request->timeoutMs = uint32_t(timeout);
    return nullptr;
}

bool writeAll(const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

std::string answerLine(const SettledEcho &s)
{
    char line[96];
    std::snprintf(line, sizeof line, "%llu R %d %u %llu\n",
                  static_cast<unsigned long long>(s.token), s.outcome.replied ? 1 : 0,
                  unsigned(s.outcome.status), static_cast<unsigned long long>(s.outcome.rttMicros));
    return line;
}

} // namespace

int main(int argc, char **)
{
    if (argc != 1) {
        std::fputs("usage: pingocx-icmp-helper (requests on standard input, see its source)\n",
                   stderr);
        return 2;
    }
    const int fd = openIcmpSocket(SocketKind::Raw);
    const int openError = errno;
    if (!dropAllCapabilities()) {
        std::fputs("pingocx-icmp-helper: cannot drop capabilities\n", stderr);
        return 4;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (fd < 0) {
        writeAll("E " + std::to_string(openError) + "\n");
        return 3;
    }
    EchoSession session(fd, SocketKind::Raw, uint16_t(getpid() & 0xFFFF));
    if (!writeAll("ready\n"))
        return 0;

    std::deque<Request> waiting;
    std::string input;
    bool discarding = false; // inside a line that was too long
    EchoClock::time_point nextSend = EchoClock::now();
    std::vector<SettledEcho> settled;
    for (;;) {
        EchoClock::time_point now = EchoClock::now();
        if (!waiting.empty() && now >= nextSend) {
            const Request r = waiting.front();
            waiting.pop_front();
            session.send(r.token, r.destination, r.timeoutMs, settled);
            nextSend = now + kMinInterval;
        }
        session.expire(now, settled);
        std::string out;
        for (const SettledEcho &s : settled)
            out += answerLine(s);
        settled.clear();
        if (!out.empty() && !writeAll(out))
            return 0;

        EchoClock::time_point wake = session.nextDeadline();
        if (!waiting.empty())
            wake = std::min(wake, nextSend);
        now = EchoClock::now();
        const timespec wait = until(wake, now);
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {fd, POLLIN, 0}};
        const int ready =
            ppoll(fds, 2, wake == EchoClock::time_point::max() ? nullptr : &wait, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        if (fds[1].revents & POLLIN)
            session.receive(settled);
        if (!fds[0].revents)
            continue;
        char buf[4096];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0; // the caller is gone: nothing more to do for anybody
        input.append(buf, std::size_t(n));
        std::size_t newline;
        while ((newline = input.find('\n')) != std::string::npos) {
            std::string line = input.substr(0, newline);
            input.erase(0, newline + 1);
            if (discarding) {
                discarding = false;
                continue;
            }
            Request request{};
            std::string token = "-";
            const char *refused =
                line.size() > kMaxLine ? "request" : parseRequest(line, &request, &token);
            if (!refused && waiting.size() + session.outstanding() >= kMaxQueued)
                refused = "busy";
            if (refused) {
                if (!writeAll(token + " refused " + refused + "\n"))
                    return 0;
                continue;
            }
            waiting.push_back(request);
        }
        if (input.size() > kMaxLine) {
            input.clear();
            discarding = true;
            if (!writeAll("- refused request\n"))
                return 0;
        }
    }
}
