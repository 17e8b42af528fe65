#pragma once

#include "core/about/Registry.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <cstring>

namespace tarvex::test {

// A registry of the tests' own: keys under HKEY_LOCAL_MACHINE holding typed values,
// with a record of the calls made to it.
class TestRegistry final : public about::Registry
{
public:
    void setValue(const QString &key, const QString &name, std::uint32_t type,
                  const QByteArray &data)
    {
        m_keys[key.toLocal8Bit()][name.toLocal8Bit()] = {type, data};
    }
    void addKey(const QString &key) { m_keys[key.toLocal8Bit()]; }
    // Makes every successful query claim this size instead of the true one.
    void claimSize(std::uint32_t size) { m_claimedSize = size; }

    long openKey(Handle root, const QByteArray &subKey, std::uint32_t access, Handle *key) override
    {
        m_accesses.append(access);
        const auto it = m_keys.constFind(subKey);
        if (root != HKEY_LOCAL_MACHINE || it == m_keys.constEnd())
            return ERROR_FILE_NOT_FOUND;
        *key = Handle(100 + std::distance(m_keys.constBegin(), it));
        m_opened.append(*key);
        return ERROR_SUCCESS;
    }

    long queryValue(Handle key, const QByteArray &name, std::uint32_t *type, char *data,
                    std::uint32_t *size) override
    {
        if (!m_opened.contains(key) || m_closed.contains(key))
            return 6; // invalid handle
        const auto values = std::next(m_keys.constBegin(), key - 100).value();
        const auto it = values.constFind(name);
        if (it == values.constEnd())
            return ERROR_FILE_NOT_FOUND;
        *type = it->first;
        const auto needed = std::uint32_t(it->second.size());
        if (needed > *size) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed > 0)
            std::memcpy(data, it->second.constData(), needed);
        *size = m_claimedSize ? m_claimedSize : needed;
        return ERROR_SUCCESS;
    }

    long closeKey(Handle key) override
    {
        m_closed.append(key);
        return ERROR_SUCCESS;
    }

    int opens() const { return int(m_accesses.size()); }
    QList<std::uint32_t> accesses() const { return m_accesses; }
    QList<Handle> opened() const { return m_opened; }
    QList<Handle> closed() const { return m_closed; }

private:
    QMap<QByteArray, QMap<QByteArray, QPair<std::uint32_t, QByteArray>>> m_keys;
    QList<std::uint32_t> m_accesses;
    QList<Handle> m_opened;
    QList<Handle> m_closed;
    std::uint32_t m_claimedSize = 0;
};

} // namespace tarvex::test
