#include "core/model/ServerKey.h"

#include "core/sources/ServerAddress.h"

namespace tarvex::model {

ServerKey ServerKey::fromAddressText(QStringView text)
{
    if (const auto a = sources::parseAddressText(text))
        return fromAddress(a->ip, a->port);
    // A bare dotted address means the game's default port.
    if (!text.contains(QLatin1Char(':'))) {
        const QString withPort =
            text.toString() + QLatin1Char(':') + QString::number(sources::DefaultGamePort);
        if (const auto a = sources::parseAddressText(withPort))
            return fromAddress(a->ip, a->port);
    }
    return {0, 0, text.toString()};
}

QString ServerKey::toString() const
{
    if (!isNumeric())
        return host;
    return sources::ServerAddress{ip, port}.toString();
}

} // namespace tarvex::model
