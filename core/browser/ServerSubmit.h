#pragma once

#include <QString>
#include <QUrl>

// Submitting a server address to the list's maintainers.
namespace tarvex::ServerSubmit {

inline const QString AddServerPath = QStringLiteral("/q2serverlist/addserver.asp");
inline const QString SubmittedPort = QStringLiteral("27910");

// The add-server request for an address as the user typed it. The text goes into the
// query unchanged, "&" and "=" included; tolerant parsing percent-encodes only what a
// request line cannot carry (blanks, control characters, non-ASCII) and a "#", which
// would otherwise cut off the rest of the query as a fragment.
QUrl addServerUrl(const QString &addressText);

} // namespace tarvex::ServerSubmit
