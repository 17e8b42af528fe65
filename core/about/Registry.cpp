#include "core/about/Registry.h"

namespace tarvex::about {

namespace {

bool readValue(Registry &registry, Registry::Handle key, const QString &SubKeyRef, QString &KeyVal)
{
    QByteArray buffer(ValueBufferSize, '\0');
    std::uint32_t type = 0;
    std::uint32_t size = ValueBufferSize;
    const long rc = registry.queryValue(key, SubKeyRef.toLocal8Bit(), &type, buffer.data(), &size);
    // A store that claims more bytes than the buffer holds is not believed. A value
    // without data has nothing to cut and counts as unreadable.
    if (rc != Registry::ERROR_SUCCESS || size == 0 || size > ValueBufferSize) {
        KeyVal.clear();
        return false;
    }
    // The size of a text includes its terminating zero when it was stored with one.
    buffer.truncate(buffer.at(size - 1) == '\0' ? size - 1 : size);

    switch (type) {
    case Registry::REG_SZ: KeyVal = QString::fromLocal8Bit(buffer); break;
    case Registry::REG_DWORD: {
        QString digits = QStringLiteral("&h");
        for (qsizetype i = buffer.size() - 1; i >= 0; --i)
            digits +=
                QStringLiteral("%1").arg(quint8(buffer.at(i)), 2, 16, QLatin1Char('0')).toUpper();
        KeyVal = digits;
        break;
    }
    default: break;
    }
    return true;
}

} // namespace

bool GetKeyValue(Registry &registry, Registry::Handle KeyRoot, const QString &KeyName,
                 const QString &SubKeyRef, QString &KeyVal)
{
    Registry::Handle key = 0;
    bool read = false;
    if (registry.openKey(KeyRoot, KeyName.toLocal8Bit(), Registry::KEY_ALL_ACCESS, &key)
        == Registry::ERROR_SUCCESS)
        read = readValue(registry, key, SubKeyRef, KeyVal);
    else
        KeyVal.clear();
    registry.closeKey(key);
    return read;
}

} // namespace tarvex::about
