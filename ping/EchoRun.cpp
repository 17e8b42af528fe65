#include "EchoRun.h"

#include "icmp/IpStatus.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pingocx {

namespace {

using icmp::EchoClock;

// A helper that hangs gets this long beyond a request's time-out before the request is
// given up as failed without a reason.
constexpr auto kHelperGrace = std::chrono::seconds(3);

std::atomic<uint16_t> g_runs{0};

std::string dotted(uint32_t destination)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = destination;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

} // namespace

// --- HelperProcess ---------------------------------------------------------------------

std::unique_ptr<HelperProcess> HelperProcess::start(const std::string &path, int wakeFd,
                                                    const std::atomic<bool> *cancelled,
                                                    std::string *why)
{
    if (access(path.c_str(), X_OK) != 0) {
        *why = helperMissingText(path);
        return nullptr;
    }
    int toHelper[2], fromHelper[2];
    if (pipe2(toHelper, O_CLOEXEC) != 0)
        return *why = std::string("no pipe: ") + std::strerror(errno), nullptr;
    if (pipe2(fromHelper, O_CLOEXEC) != 0) {
        close(toHelper[0]);
        close(toHelper[1]);
        return *why = std::string("no pipe: ") + std::strerror(errno), nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHelper[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromHelper[1], 1);
    char *const argv[] = {const_cast<char *>(path.c_str()), nullptr};
    char *const envp[] = {nullptr};
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    close(toHelper[0]);
    close(fromHelper[1]);

    std::unique_ptr<HelperProcess> helper(new HelperProcess);
    helper->m_in = toHelper[1];
    helper->m_out = fromHelper[0];
    if (spawnError != 0) {
        *why = "The helper " + path + " could not be started (" + std::strerror(spawnError) + "); "
            + permissionHintText(path);
        return nullptr;
    }
    helper->m_pid = pid;
    // A caller that stops reading must not stop this process.
    (void)fcntl(helper->m_in, F_SETFL, fcntl(helper->m_in, F_GETFL) | O_NONBLOCK);

    const auto deadline = EchoClock::now() + std::chrono::seconds(3);
    std::string &line = helper->m_buffer;
    while (line.find('\n') == std::string::npos && line.size() < 64) {
        const auto now = EchoClock::now();
        if (now >= deadline)
            break;
        const timespec wait = icmp::until(deadline, now);
        pollfd fds[2] = {{helper->m_out, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ppoll(fds, wakeFd >= 0 ? 2 : 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        if (wakeFd >= 0 && fds[1].revents) {
            // New requests (the run looks at its queue once the helper is up) or a cancel.
            uint64_t count;
            (void)!read(wakeFd, &count, sizeof count);
            if (cancelled && *cancelled)
                break;
            continue;
        }
        char buf[64];
        const ssize_t n = read(helper->m_out, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buf, std::size_t(n));
    }
    const std::size_t newline = line.find('\n');
    const std::string first = line.substr(0, newline);
    line.erase(0, newline == std::string::npos ? line.size() : newline + 1);
    if (first == "ready")
        return helper;
    int openError = 0;
    if (std::sscanf(first.c_str(), "E %d", &openError) == 1)
        *why = "This user may not send ICMP echo requests, and the helper " + path
            + " lacks the capability to; " + permissionHintText(path);
    else
        *why = "The helper " + path + " did not start properly.";
    return nullptr;
}

HelperProcess::~HelperProcess()
{
    if (m_in >= 0)
        close(m_in); // its input closes: it ends at once
    if (m_out >= 0)
        close(m_out);
    if (m_pid <= 0)
        return;
    int status = 0;
    for (int i = 0; i < 100; ++i) { // 500 ms at most
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid || (done < 0 && errno != EINTR))
            return;
        usleep(5000);
    }
    kill(m_pid, SIGKILL);
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
}

bool HelperProcess::request(uint64_t token, uint32_t destination, uint32_t timeoutMs)
{
    char line[80];
    const int len = std::snprintf(line, sizeof line, "echo %llu %s %u\n",
                                  static_cast<unsigned long long>(token),
                                  dotted(destination).c_str(), unsigned(timeoutMs));
    // The pipe holds thousands of requests; one that does not fit fails like a lost helper.
    ssize_t n;
    do
        n = write(m_in, line, std::size_t(len));
    while (n < 0 && errno == EINTR);
    return n == len;
}

bool HelperProcess::readAnswers(std::vector<icmp::SettledEcho> &settled)
{
    char buf[4096];
    ssize_t n;
    do
        n = read(m_out, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    m_buffer.append(buf, std::size_t(n));
    std::size_t newline;
    while ((newline = m_buffer.find('\n')) != std::string::npos) {
        const std::string line = m_buffer.substr(0, newline);
        m_buffer.erase(0, newline + 1);
        unsigned long long token = 0, micros = 0;
        int replied = 0;
        unsigned status = 0;
        char reason[16] = {};
        icmp::SettledEcho s;
        if (std::sscanf(line.c_str(), "%llu R %d %u %llu", &token, &replied, &status, &micros)
            == 4) {
            s.outcome.replied = replied != 0;
            s.outcome.status = status;
            s.outcome.rttMicros = micros;
            s.outcome.rttMs = uint32_t(micros / 1000);
        } else if (std::sscanf(line.c_str(), "%llu refused %15s", &token, reason) == 2) {
            // Only addresses the helper may not ping are refused for what they are.
            s.outcome.status =
                std::strcmp(reason, "address") == 0 ? icmp::IP_BAD_DESTINATION : icmp::IP_SUCCESS;
        } else {
            continue;
        }
        s.token = token;
        settled.push_back(s);
    }
    if (m_buffer.size() > 4096) // no line is that long: the helper is not itself
        return false;
    return true;
}

// --- EchoRun ---------------------------------------------------------------------------

EchoRun::EchoRun(Means choice, uint32_t intervalMs, Deliver deliver)
    : m_choice(choice),
      m_interval(intervalMs),
      // Each run its own identifier, so that two runs (or a run and a single Send) on raw
      // sockets in one process never take each other's answers.
      m_identifier(uint16_t((getpid() & 0xFFFF) ^ (0x8000 | (++g_runs & 0x7FFF)))),
      m_deliver(std::move(deliver))
{
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { work(); });
}

EchoRun::~EchoRun()
{
    cancel();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wake >= 0)
        close(m_wake);
}

void EchoRun::wake()
{
    const uint64_t one = 1;
    if (m_wake >= 0)
        (void)!write(m_wake, &one, sizeof one);
}

void EchoRun::add(uint64_t token, uint32_t destination, uint32_t timeoutMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back({token, destination, timeoutMs});
    }
    wake();
}

void EchoRun::cancel()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
    }
    wake();
}

bool EchoRun::openMeans(Report &report)
{
    if (m_choice == Means::Auto || m_choice == Means::Datagram) {
        const int fd = icmp::openIcmpSocket(icmp::SocketKind::Datagram);
        if (fd >= 0) {
            m_session = std::make_unique<icmp::EchoSession>(fd, icmp::SocketKind::Datagram, 0);
            report.meansUsed = meansName(Means::Datagram);
            return true;
        }
        if (m_choice == Means::Datagram) {
            report.whyNoMeans = noPingSocketText(errno);
            return false;
        }
    }
    if (m_choice == Means::Auto || m_choice == Means::Raw) {
        const int fd = icmp::openIcmpSocket(icmp::SocketKind::Raw);
        if (fd >= 0) {
            m_session =
                std::make_unique<icmp::EchoSession>(fd, icmp::SocketKind::Raw, m_identifier);
            report.meansUsed = meansName(Means::Raw);
            return true;
        }
        if (m_choice == Means::Raw) {
            report.whyNoMeans = noRawSocketText(errno);
            return false;
        }
    }
    m_helper = HelperProcess::start(helperPath(), m_wake, &m_cancelled, &report.whyNoMeans);
    if (!m_helper)
        return false;
    report.meansUsed = meansName(Means::Helper);
    return true;
}

void EchoRun::work()
{
    Report report;
    const bool haveMeans = openMeans(report);
    const std::string whyNoMeans = report.whyNoMeans;
    const std::string meansUsed = report.meansUsed;
    report.whyNoMeans.clear();
    bool meansReported = false;
    EchoClock::time_point nextSend = EchoClock::now();
    std::vector<icmp::SettledEcho> settled;

    while (!m_cancelled) {
        EchoClock::time_point now = EchoClock::now();
        // Every request waiting whose turn has come (one per interval).
        while (now >= nextSend) {
            Request r;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_queue.empty())
                    break;
                r = m_queue.front();
                m_queue.pop_front();
            }
            if (!haveMeans) {
                Settled s;
                s.token = r.token;
                s.haveMeans = false;
                report.settled.push_back(s);
                continue; // nothing is sent, so nothing is paced
            }
            if (m_session) {
                m_session->send(r.token, r.destination, r.timeoutMs, settled);
            } else if (m_helper && m_helper->request(r.token, r.destination, r.timeoutMs)) {
                m_helperAsked[r.token] =
                    now + std::chrono::milliseconds(r.timeoutMs) + kHelperGrace;
            } else {
                settled.push_back({r.token, {}}); // no helper (any more): failed without a reason
            }
            nextSend = now + m_interval;
            if (m_interval.count() > 0)
                break;
        }
        if (m_session)
            m_session->expire(now, settled);
        for (auto it = m_helperAsked.begin(); it != m_helperAsked.end();) {
            if (it->second <= now) {
                settled.push_back({it->first, {}});
                it = m_helperAsked.erase(it);
            } else {
                ++it;
            }
        }

        for (const icmp::SettledEcho &s : settled)
            report.settled.push_back({s.token, true, s.outcome});
        settled.clear();
        if (!report.settled.empty()) {
            if (!meansReported && !haveMeans)
                report.whyNoMeans = whyNoMeans;
            meansReported = true;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_cancelled)
                break;
            m_deliver(std::move(report));
            report = Report();
            report.meansUsed = meansUsed;
        }

        // Sleep until the next turn to send, the next deadline, an answer or a wake-up.
        EchoClock::time_point wakeAt =
            m_session ? m_session->nextDeadline() : EchoClock::time_point::max();
        for (const auto &asked : m_helperAsked)
            wakeAt = std::min(wakeAt, asked.second);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_queue.empty())
                wakeAt = std::min(wakeAt, nextSend);
        }
        const int answerFd = m_session ? m_session->fd() : m_helper ? m_helper->answerFd() : -1;
        pollfd fds[2] = {{m_wake, POLLIN, 0}, {answerFd, POLLIN, 0}};
        now = EchoClock::now();
        const timespec wait = icmp::until(wakeAt, now);
        const int ready =
            ppoll(fds, 2, wakeAt == EchoClock::time_point::max() ? nullptr : &wait, nullptr);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (fds[0].revents) {
            uint64_t count;
            (void)!read(m_wake, &count, sizeof count);
        }
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (m_session) {
                m_session->receive(settled);
            } else if (m_helper && !m_helper->readAnswers(settled)) {
                // The helper has gone: what it still had fails without a reason, and so
                // does everything after.
                for (const auto &asked : m_helperAsked)
                    settled.push_back({asked.first, {}});
                m_helperAsked.clear();
                m_helper.reset();
            }
            for (const icmp::SettledEcho &s : settled)
                m_helperAsked.erase(s.token);
        }
    }
    m_helper.reset();
    m_session.reset();
}

} // namespace pingocx
