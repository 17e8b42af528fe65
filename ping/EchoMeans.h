#pragma once

// The ICMP means of the Ping control, tried in the order iputils ping uses: a ping socket,
// a raw socket, and last the library's own helper program with the capability to open
// a raw socket for the user.

#include "icmp/IcmpEcho.h"

#include <cstdint>
#include <string>

namespace pingocx {

enum class Means { Auto, Datagram, Raw, Helper };

// "", "datagram", "raw", "helper" (the Auto ladder is the empty text).
const char *meansName(Means means);
bool meansFromName(const std::string &name, Means *means);

struct EchoAttempt
{
    bool haveMeans = false; // false: no means could be had ("Socket Error")
    std::string meansUsed; // which one answered
    std::string whyNoMeans; // one line for the user when haveMeans is false
    icmp::EchoOutcome outcome;
};

// The path of the shared library that holds this code, absolute when it can be made so;
// empty when it cannot be found.
std::string libraryPath();

// The helper program's path: beside the shared library that holds this code.
std::string helperPath();
inline constexpr char kHelperName[] = "pingocx-icmp-helper";

// The texts for the user when a means cannot be had.
std::string helperMissingText(const std::string &helper);
std::string permissionHintText(const std::string &helper);
std::string noPingSocketText(int error);
std::string noRawSocketText(int error);

// One echo request by the first means that can be had (or only by the one asked for).
EchoAttempt echoByAnyMeans(uint32_t destination, uint32_t timeoutMs, Means choice);

// The helper alone, given its path.
EchoAttempt echoByHelper(const std::string &helper, uint32_t destination, uint32_t timeoutMs);

} // namespace pingocx
