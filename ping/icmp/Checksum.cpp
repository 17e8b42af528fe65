#include "Checksum.h"

#include <arpa/inet.h>

namespace pingocx::icmp {

uint16_t internetChecksum(const void *data, std::size_t len)
{
    const auto *p = static_cast<const unsigned char *>(data);
    uint32_t sum = 0;
    for (; len > 1; p += 2, len -= 2)
        sum += uint32_t(p[0]) << 8 | p[1];
    if (len)
        sum += uint32_t(p[0]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return htons(uint16_t(~sum));
}

} // namespace pingocx::icmp
