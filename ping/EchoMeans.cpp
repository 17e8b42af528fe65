#include "EchoMeans.h"

#include "Address.h"
#include "icmp/IpStatus.h"

#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pingocx {

namespace {

std::atomic<uint16_t> g_sequence{0};

uint16_t nextSequence()
{
    return uint16_t(g_sequence.fetch_add(1) + 1);
}

EchoAttempt bySocket(icmp::SocketKind kind, uint32_t destination, uint32_t timeoutMs, int fd)
{
    EchoAttempt attempt;
    attempt.haveMeans = true;
    attempt.meansUsed = meansName(kind == icmp::SocketKind::Datagram ? Means::Datagram : Means::Raw);
    attempt.outcome = icmp::sendEcho(fd, kind, destination, timeoutMs,
                                     uint16_t(getpid() & 0xFFFF), nextSequence());
    close(fd);
    return attempt;
}

const char kPingSocketHint[] =
    "allow ping sockets with \"sudo sysctl -w net.ipv4.ping_group_range='0 2147483647'\".";

std::string permissionHint(const std::string &helper)
{
    return "allow it with \"sudo setcap cap_net_raw+ep " + helper + "\", or " + kPingSocketHint;
}

// Reads the helper's answer line until it ends or the deadline passes.
std::string readLine(int fd, std::chrono::steady_clock::time_point deadline)
{
    std::string line;
    char buf[128];
    while (line.find('\n') == std::string::npos && line.size() < 256) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, int(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buf, std::size_t(n));
    }
    return line;
}

} // namespace

const char *meansName(Means means)
{
    switch (means) {
    case Means::Datagram:
        return "datagram";
    case Means::Raw:
        return "raw";
    case Means::Helper:
        return "helper";
    case Means::Auto:
        break;
    }
    return "";
}

bool meansFromName(const std::string &name, Means *means)
{
    for (Means m : {Means::Auto, Means::Datagram, Means::Raw, Means::Helper}) {
        if (name == meansName(m)) {
            *means = m;
            return true;
        }
    }
    return false;
}

std::string libraryPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&libraryPath), &info) == 0 || !info.dli_fname)
        return std::string();
    std::string library = info.dli_fname;
    if (!library.empty() && library[0] != '/') {
        char resolved[PATH_MAX];
        if (realpath(library.c_str(), resolved))
            library = resolved;
    }
    return library;
}

std::string helperPath()
{
    const std::string library = libraryPath();
    if (library.empty())
        return kHelperName;
    const std::size_t slash = library.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : library.substr(0, slash);
    return folder + "/" + kHelperName;
}

EchoAttempt echoByHelper(const std::string &helper, uint32_t destination, uint32_t timeoutMs)
{
    EchoAttempt attempt;
    if (access(helper.c_str(), X_OK) != 0) {
        attempt.whyNoMeans = "This user may not send ICMP echo requests, and the helper " + helper
            + " is missing; reinstall it beside the Ping library, or " + kPingSocketHint;
        return attempt;
    }

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        attempt.haveMeans = true; // a failure without a reason
        attempt.meansUsed = meansName(Means::Helper);
        return attempt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);

    const std::string address = dottedText(destination).toStdString();
    const std::string timeout = std::to_string(timeoutMs);
    char *const argv[] = {const_cast<char *>(helper.c_str()), const_cast<char *>(address.c_str()),
                          const_cast<char *>(timeout.c_str()), nullptr};
    char *const envp[] = {nullptr};
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);

    attempt.haveMeans = true;
    attempt.meansUsed = meansName(Means::Helper);
    if (spawnError != 0) {
        close(pipeFds[0]);
        attempt.haveMeans = false;
        attempt.whyNoMeans = "The helper " + helper + " could not be started ("
            + std::strerror(spawnError) + "); " + permissionHint(helper);
        return attempt;
    }

    // The helper keeps its own deadline; this one only guards against a helper that hangs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)
        + std::chrono::seconds(3);
    const std::string line = readLine(pipeFds[0], deadline);
    close(pipeFds[0]);
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }

    int replied = 0;
    unsigned ipStatus = 0;
    unsigned long long micros = 0;
    int openError = 0;
    if (std::sscanf(line.c_str(), "R %d %u %llu", &replied, &ipStatus, &micros) == 3) {
        attempt.outcome.replied = replied != 0;
        attempt.outcome.status = ipStatus;
        attempt.outcome.rttMicros = micros;
        attempt.outcome.rttMs = uint32_t(micros / 1000);
    } else if (std::sscanf(line.c_str(), "E %d", &openError) == 1) {
        attempt.haveMeans = false;
        attempt.whyNoMeans = "This user may not send ICMP echo requests, and the helper " + helper
            + " lacks the capability to; " + permissionHint(helper);
    }
    // Anything else (a crash, no answer): a failure without a reason, status 0.
    return attempt;
}

EchoAttempt echoByAnyMeans(uint32_t destination, uint32_t timeoutMs, Means choice)
{
    if (choice == Means::Auto || choice == Means::Datagram) {
        const int fd = icmp::openIcmpSocket(icmp::SocketKind::Datagram);
        if (fd >= 0)
            return bySocket(icmp::SocketKind::Datagram, destination, timeoutMs, fd);
        if (choice == Means::Datagram) {
            EchoAttempt attempt;
            attempt.whyNoMeans = std::string("Ping sockets are not allowed for this user (")
                + std::strerror(errno) + "); " + kPingSocketHint;
            return attempt;
        }
    }
    if (choice == Means::Auto || choice == Means::Raw) {
        const int fd = icmp::openIcmpSocket(icmp::SocketKind::Raw);
        if (fd >= 0)
            return bySocket(icmp::SocketKind::Raw, destination, timeoutMs, fd);
        if (choice == Means::Raw) {
            EchoAttempt attempt;
            attempt.whyNoMeans = std::string("Raw ICMP sockets need the capability CAP_NET_RAW (")
                + std::strerror(errno) + ").";
            return attempt;
        }
    }
    return echoByHelper(helperPath(), destination, timeoutMs);
}

} // namespace pingocx
