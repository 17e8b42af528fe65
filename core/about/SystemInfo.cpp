#include "core/about/SystemInfo.h"

#include <QStandardPaths>

#include <cstring>

namespace tarvex::about {

namespace {
constexpr Registry::Handle MsInfoHandle = 1;
}

QStringList systemInfoTools()
{
    // Dedicated hardware and system reports first, then the desktops' own centres and
    // monitors, which show at least the system's summary.
    return {QStringLiteral("hardinfo2"),
            QStringLiteral("hardinfo"),
            QStringLiteral("kinfocenter"),
            QStringLiteral("cpu-x"),
            QStringLiteral("gnome-system-monitor"),
            QStringLiteral("mate-system-monitor")};
}

QString findSystemInfoTool()
{
    for (const QString &tool : systemInfoTools()) {
        const QString path = QStandardPaths::findExecutable(tool);
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

long SystemRegistry::openKey(Handle root, const QByteArray &subKey, std::uint32_t, Handle *key)
{
    // Key names are matched without regard to letter case, as in a registry.
    if (root == HKEY_LOCAL_MACHINE
        && QString::fromLocal8Bit(subKey).compare(MsInfoKey, Qt::CaseInsensitive) == 0) {
        *key = MsInfoHandle;
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

long SystemRegistry::queryValue(Handle key, const QByteArray &name, std::uint32_t *type, char *data,
                                std::uint32_t *size)
{
    if (key != MsInfoHandle
        || QString::fromLocal8Bit(name).compare(MsInfoPathValue, Qt::CaseInsensitive) != 0)
        return ERROR_FILE_NOT_FOUND;
    const QString tool = findSystemInfoTool();
    if (tool.isEmpty())
        return ERROR_FILE_NOT_FOUND;
    const QByteArray text = tool.toLocal8Bit() + '\0';
    const auto needed = std::uint32_t(text.size());
    *type = REG_SZ;
    if (needed > *size) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, text.constData(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

long SystemRegistry::closeKey(Handle) { return ERROR_SUCCESS; }

Registry &systemRegistry()
{
    static SystemRegistry registry;
    return registry;
}

} // namespace tarvex::about
