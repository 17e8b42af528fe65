#include "EchoMeans.h"

#include "Address.h"
#include "EchoRun.h"
#include "icmp/IpStatus.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

namespace pingocx {

namespace {

EchoAttempt bySocket(icmp::SocketKind kind, uint32_t destination, uint32_t timeoutMs, int fd)
{
    EchoAttempt attempt;
    attempt.haveMeans = true;
    attempt.meansUsed =
        meansName(kind == icmp::SocketKind::Datagram ? Means::Datagram : Means::Raw);
    attempt.outcome = icmp::echoOnce(fd, kind, destination, timeoutMs, uint16_t(getpid() & 0xFFFF));
    return attempt;
}

const char kPingSocketHint[] =
    "allow ping sockets with \"sudo sysctl -w net.ipv4.ping_group_range='0 2147483647'\".";

} // namespace

const char *meansName(Means means)
{
    switch (means) {
    case Means::Datagram: return "datagram";
    case Means::Raw: return "raw";
    case Means::Helper: return "helper";
    case Means::Auto: break;
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

std::string helperMissingText(const std::string &helper)
{
    return "This user may not send ICMP echo requests, and the helper " + helper
        + " is missing; reinstall it beside the Ping library, or " + kPingSocketHint;
}

std::string permissionHintText(const std::string &helper)
{
    return "allow it with \"sudo setcap cap_net_raw+ep " + helper + "\", or " + kPingSocketHint;
}

std::string noPingSocketText(int error)
{
    return std::string("Ping sockets are not allowed for this user (") + std::strerror(error)
        + "); " + kPingSocketHint;
}

std::string noRawSocketText(int error)
{
    return std::string("Raw ICMP sockets need the capability CAP_NET_RAW (") + std::strerror(error)
        + ").";
}

EchoAttempt echoByHelper(const std::string &helper, uint32_t destination, uint32_t timeoutMs)
{
    EchoAttempt attempt;
    const std::unique_ptr<HelperProcess> process =
        HelperProcess::start(helper, -1, nullptr, &attempt.whyNoMeans);
    if (!process)
        return attempt;
    attempt.haveMeans = true;
    attempt.meansUsed = meansName(Means::Helper);
    if (!process->request(1, destination, timeoutMs))
        return attempt; // a failure without a reason

    // The helper keeps its own deadline; this one only guards against a helper that hangs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)
        + std::chrono::seconds(3);
    std::vector<icmp::SettledEcho> settled;
    while (settled.empty()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        pollfd pfd{process->answerFd(), POLLIN, 0};
        const int ready = poll(&pfd, 1, int(std::min<long long>(left, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || !process->readAnswers(settled))
            break;
    }
    // Anything but the answer (a crash, no answer): a failure without a reason, status 0.
    if (!settled.empty())
        attempt.outcome = settled.front().outcome;
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
            attempt.whyNoMeans = noPingSocketText(errno);
            return attempt;
        }
    }
    if (choice == Means::Auto || choice == Means::Raw) {
        const int fd = icmp::openIcmpSocket(icmp::SocketKind::Raw);
        if (fd >= 0)
            return bySocket(icmp::SocketKind::Raw, destination, timeoutMs, fd);
        if (choice == Means::Raw) {
            EchoAttempt attempt;
            attempt.whyNoMeans = noRawSocketText(errno);
            return attempt;
        }
    }
    return echoByHelper(helperPath(), destination, timeoutMs);
}

} // namespace pingocx
