#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace tarvex::about {

// A small key/value store: open a key, query one value's type and bytes, close the
// key. Results are 0 on success and an error code otherwise. Texts cross it as single-byte (local
// 8-bit) strings.
class Registry
{
public:
    using Handle = std::uint32_t;

    static constexpr Handle HKEY_LOCAL_MACHINE = 0x80000002;
    static constexpr std::uint32_t KEY_ALL_ACCESS = 0x2003F;
    static constexpr std::uint32_t REG_SZ = 1; // text
    static constexpr std::uint32_t REG_DWORD = 4; // 32-bit number, least significant byte first
    static constexpr long ERROR_SUCCESS = 0;
    static constexpr long ERROR_FILE_NOT_FOUND = 2;
    static constexpr long ERROR_MORE_DATA = 234;

    virtual ~Registry() = default;

    // Opens subKey under root and stores its handle in *key.
    virtual long openKey(Handle root, const QByteArray &subKey, std::uint32_t access,
                         Handle *key) = 0;
    // Copies the data of value name into data, which holds *size bytes, and stores the
    // value's type and its size in bytes. A value larger than *size fails with
    // ERROR_MORE_DATA and leaves data unspecified.
    virtual long queryValue(Handle key, const QByteArray &name, std::uint32_t *type, char *data,
                            std::uint32_t *size) = 0;
    virtual long closeKey(Handle key) = 0;
};

// Characters the value buffer of GetKeyValue holds; a longer value cannot be read.
constexpr std::uint32_t ValueBufferSize = 1024;

// Reads value SubKeyRef of key KeyName under KeyRoot into KeyVal and says whether it
// could be read. A text value (REG_SZ) loses its terminating zero; a number (REG_DWORD)
// becomes "&h" and its bytes in hexadecimal, last byte first; a value of any other type
// counts as read but leaves KeyVal as it was passed. When the key or the value cannot
// be read (missing, longer than the buffer, or without any data) KeyVal is emptied.
// The key is closed in every case.
bool GetKeyValue(Registry &registry, Registry::Handle KeyRoot, const QString &KeyName,
                 const QString &SubKeyRef, QString &KeyVal);

} // namespace tarvex::about
