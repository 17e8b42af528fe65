#include "core/browser/Module1.h"

#include <QDir>
#include <QFileInfo>

namespace tarvex::Module1 {

const QString NotPlainHostText =
    QStringLiteral("The selected server's address is not a host name or IP address, so it "
                   "was not queried.");

QString HostPart(const QString &address)
{
    const qsizetype colon = address.indexOf(QLatin1Char(':'));
    return colon < 0 ? address : address.left(colon);
}

int PortPart(const QString &address, int defaultPort)
{
    const qsizetype colon = address.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return defaultPort;
    bool ok = false;
    const int port = address.mid(colon + 1).toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? port : defaultPort;
}

std::optional<QString> ShortPathOf(const QString &path)
{
    // A NUL would cut the name short at the system call, which would then look at
    // another file than the one named.
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return std::nullopt;
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return std::nullopt;
    return QDir::cleanPath(info.absoluteFilePath());
}

bool IsPlainHost(const QString &host)
{
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')) || host.size() > 253)
        return false;
    for (const QChar c : host) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z')
            || (u >= u'0' && u <= u'9') || u == u'.' || u == u'-';
        if (!ok)
            return false;
    }
    return true;
}

bool IsPlainAddress(const QString &address)
{
    const qsizetype colon = address.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return IsPlainHost(address);
    if (!IsPlainHost(address.left(colon)))
        return false;
    const QString port = address.mid(colon + 1);
    if (port.isEmpty() || port.size() > 5)
        return false;
    for (const QChar c : port) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int value = port.toInt();
    return value >= 1 && value <= 65535;
}

} // namespace tarvex::Module1
