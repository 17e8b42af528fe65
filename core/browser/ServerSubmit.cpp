#include "core/browser/ServerSubmit.h"

#include "core/browser/Settings.h"

namespace tarvex::ServerSubmit {

QUrl addServerUrl(const QString &addressText)
{
    QUrl url = Settings::endpointUrl(Settings::KeyAddServerHost, AddServerPath);
    url.setQuery(QStringLiteral("tIP=") + addressText + QStringLiteral("&tPort=") + SubmittedPort,
                 QUrl::TolerantMode);
    return url;
}

} // namespace tarvex::ServerSubmit
