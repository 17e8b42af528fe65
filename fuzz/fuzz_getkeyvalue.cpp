// GetKeyValue's cut of the value buffer, through a registry whose every answer comes from
// the input: whether the key opens, the query's result, the value's type, the size it
// claims and the bytes it writes (never more than the buffer it is given holds).
//
// Input: open result, query result, type and claimed size (one byte, one byte, four
// bytes, four bytes, all least significant byte first), then the value's bytes.
//
// Checked: the buffer offered is the documented 1024 bytes; the key is closed exactly
// once, the one that was opened; a failed open or query, a claimed size of 0 or over the
// buffer empties the text and says "not read"; otherwise the text is the claimed bytes
// (those written, then the buffer's zeros) less one trailing zero, shown by type as
// computed here on its own: a text as such, a number as "&h" and its bytes in upper-case
// hexadecimal, last byte first; any other type leaves the text as it was.
#include "core/about/Registry.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using tarvex::about::Registry;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

std::uint32_t le32(const uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
        | std::uint32_t(p[3]) << 24;
}

class FuzzRegistry final : public Registry
{
public:
    bool openSucceeds = true;
    long queryResult = ERROR_SUCCESS;
    std::uint32_t type = REG_SZ;
    std::uint32_t claimedSize = 0;
    QByteArray bytes;

    int opens = 0;
    int queries = 0;
    int closes = 0;
    Handle closedKey = 0;
    std::uint32_t offered = 0;
    std::uint32_t written = 0;

    long openKey(Handle root, const QByteArray &subKey, std::uint32_t, Handle *key) override
    {
        ++opens;
        require(root == HKEY_LOCAL_MACHINE && subKey == "SOFTWARE\\Tarvex\\Fuzz");
        if (!openSucceeds)
            return ERROR_FILE_NOT_FOUND;
        *key = OpenedKey;
        return ERROR_SUCCESS;
    }

    long queryValue(Handle key, const QByteArray &name, std::uint32_t *valueType, char *data,
                    std::uint32_t *size) override
    {
        ++queries;
        require(key == OpenedKey && name == "Value" && closes == 0);
        offered = *size;
        *valueType = type;
        // An honest store writes at most what the buffer holds; every byte offered must be
        // writable (AddressSanitizer watches the rest).
        written = std::min<std::uint32_t>(std::uint32_t(bytes.size()), *size);
        if (written > 0)
            std::memcpy(data, bytes.constData(), written);
        if (*size > 0) {
            const volatile char last = data[*size - 1];
            (void)last;
        }
        *size = claimedSize;
        return queryResult;
    }

    long closeKey(Handle key) override
    {
        ++closes;
        closedKey = key;
        return ERROR_SUCCESS;
    }

    static constexpr Handle OpenedKey = 0x1234;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 10)
        return 0;
    FuzzRegistry registry;
    registry.openSucceeds = (data[0] & 7) != 0;
    switch (data[1] % 4) {
    case 0:
    case 1: registry.queryResult = Registry::ERROR_SUCCESS; break;
    case 2: registry.queryResult = Registry::ERROR_MORE_DATA; break;
    default: registry.queryResult = Registry::ERROR_FILE_NOT_FOUND; break;
    }
    registry.type = le32(data + 2);
    registry.claimedSize = le32(data + 6);
    registry.bytes = QByteArray(reinterpret_cast<const char *>(data + 10), qsizetype(size - 10));

    const QString before = QStringLiteral("as passed");
    QString value = before;
    const bool read = tarvex::about::GetKeyValue(registry, Registry::HKEY_LOCAL_MACHINE,
                                                 QStringLiteral("SOFTWARE\\Tarvex\\Fuzz"),
                                                 QStringLiteral("Value"), value);

    require(registry.opens == 1 && registry.closes == 1);
    if (!registry.openSucceeds) {
        require(!read && value.isEmpty() && registry.queries == 0);
        return 0;
    }
    require(registry.queries == 1 && registry.closedKey == FuzzRegistry::OpenedKey);
    require(registry.offered == tarvex::about::ValueBufferSize);

    const std::uint32_t claimed = registry.claimedSize;
    if (registry.queryResult != Registry::ERROR_SUCCESS || claimed == 0
        || claimed > tarvex::about::ValueBufferSize) {
        require(!read && value.isEmpty());
        return 0;
    }
    require(read);

    // The claimed bytes: what was written, then the zeros the buffer started with.
    QByteArray claimedBytes = registry.bytes.left(qsizetype(std::min(claimed, registry.written)));
    claimedBytes.append(QByteArray(qsizetype(claimed) - claimedBytes.size(), '\0'));
    if (claimedBytes.endsWith('\0'))
        claimedBytes.chop(1);

    if (registry.type == Registry::REG_SZ) {
        require(value == QString::fromUtf8(claimedBytes));
    } else if (registry.type == Registry::REG_DWORD) {
        std::string expected = "&h";
        for (qsizetype i = claimedBytes.size() - 1; i >= 0; --i) {
            char two[3];
            std::snprintf(two, sizeof two, "%02X", unsigned(uint8_t(claimedBytes[i])));
            expected += two;
        }
        require(value == QString::fromLatin1(expected.data(), qsizetype(expected.size())));
    } else {
        require(value == before);
    }
    return 0;
}
