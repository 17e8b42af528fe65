#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// The per-user settings store: text values addressed by section and key under the
// application "Tarvex", kept in an INI file ($XDG_CONFIG_HOME/Tarvex/Tarvex.ini,
// by default ~/.config/Tarvex/Tarvex.ini).
namespace tarvex::Settings {

inline const QString DataSection = QStringLiteral("Data");
inline const QString KeyQuakeLocation = QStringLiteral("QuakeLocation");
inline const QString KeyPingOnStartup = QStringLiteral("mnuPing");
inline const QString KeyCloseOnStartup = QStringLiteral("mnuCloseStartup");

inline const QString EndpointsSection = QStringLiteral("Endpoints");
inline const QString KeyServerListHost = QStringLiteral("ServerListHost");
inline const QString KeyAddServerHost = QStringLiteral("AddServerHost");

QString GetSetting(const QString &section, const QString &key, const QString &absent);
// Writes one value and flushes it to disk at once; false when the store could not be
// written (its folder is read-only, say).
bool SaveSetting(const QString &section, const QString &key, const QString &value);

// "True"/"False" in any letter case, or a number (0 false, any other true); any other
// text cannot be read as a Boolean.
std::optional<bool> textToBool(const QString &text);
QString boolToText(bool value);

// A stored option; an absent key or a text that cannot be read as a Boolean gives
// the value for an absent key.
bool GetBoolSetting(const QString &section, const QString &key, bool absent);

// The web host of an endpoint: the per-user override when one is stored, otherwise
// the default the program was built with. Scheme, host and optional port only. A stored
// override that is not a usable http(s) host is not replaced by the default: the result
// is then empty and endpointProblem() says why.
QUrl endpointHost(const QString &key);

// Why text, stored as the host of what, is not a usable http(s) host; empty when it is.
QString webHostProblem(const QString &what, const QString &text);

// Why the stored override of endpoint key cannot be used; empty when it can or when
// none is stored.
QString endpointProblem(const QString &key);

// The full address of the page at path on the host of endpoint key (empty when
// endpointHost is).
QUrl endpointUrl(const QString &key, const QString &path);

} // namespace tarvex::Settings
