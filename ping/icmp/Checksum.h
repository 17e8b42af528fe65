#pragma once

#include <cstddef>
#include <cstdint>

namespace pingocx::icmp {

// The Internet checksum (RFC 1071) of len bytes, in network byte order.
uint16_t internetChecksum(const void *data, std::size_t len);

} // namespace pingocx::icmp
