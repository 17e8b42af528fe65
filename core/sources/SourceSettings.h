#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The list sources the user has configured: the [Sources] group of the settings.
namespace tarvex::sources {

enum class SourceKind { Page, TextList, BinaryList, Master, Lan, Favourites };

struct SourceEntry
{
    SourceKind kind = SourceKind::Page;
    // Page: the web host ("http://host[:port]"; empty: the [Endpoints] ServerListHost);
    // text and binary lists: the whole URL; master: host[:port] (port 27900 when left
    // out); LAN: the broadcast address (empty: 255.255.255.255); favourites: the
    // addresses, separated by blanks or commas.
    QString address;
    bool enabled = true;

    friend bool operator==(const SourceEntry &a, const SourceEntry &b)
    {
        return a.kind == b.kind && a.address == b.address && a.enabled == b.enabled;
    }
};

inline const QString SourcesGroup = QStringLiteral("Sources");

// The word stored for a kind ("page", "text", "binary", "master", "lan", "favourites").
QString kindKey(SourceKind kind);
std::optional<SourceKind> kindFromKey(const QString &key);
// How the window names a kind ("text list", ...).
QString kindName(SourceKind kind);
// "text list http://...", for status texts and the dialog's list.
QString describe(const SourceEntry &entry);

// Entries of the form "kind=address" separated by "|"; unknown kinds are left out.
QList<SourceEntry> parseSourceList(const QString &text);

// Why an entry cannot be used, or no value when it can.
std::optional<QString> checkEntry(const SourceEntry &entry);

// The configured sources: the [Sources] group when it exists; otherwise the page alone
// when [Endpoints] ServerListHost is set, else the sources the program was built with.
// An entry that cannot be read is reported in *problems (one line each) and left off.
QList<SourceEntry> loadSources(QStringList *problems = nullptr);
// Replaces the [Sources] group; false when the settings could not be written.
bool saveSources(const QList<SourceEntry> &entries);

// The sources the program was built with.
QList<SourceEntry> defaultSources();

// True when the only enabled source is the server-list page: the refresh is then the
// page's own, exactly.
bool pageOnly(const QList<SourceEntry> &entries);

} // namespace tarvex::sources
