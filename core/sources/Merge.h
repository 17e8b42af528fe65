#pragma once

#include "core/sources/ServerAddress.h"

#include <QList>
#include <QString>
#include <optional>

namespace tarvex::sources {

// One row of the server list as the sources give it.
struct ListedServer
{
    QString address; // the text of the Address column
    std::optional<ServerAddress> target; // where its status is asked; none for host names
    QString name, players, map; // the page's texts; empty from address-only sources
    bool fromPage = false;
};

// A row of the page: its address text is kept as written; the status target is read
// from it when it is a dotted IPv4 address (port 27910 when it names none).
ListedServer pageRow(const QString &name, const QString &address, const QString &players,
                     const QString &map);

// The rows of address-only sources.
QList<ListedServer> addressRows(const QList<ServerAddress> &addresses);

// The rows of all sources in source order. A row whose status target an earlier row
// of another source already has is dropped; the page's own rows all stay, as the page
// lists them. At most MaxListEntries rows from address-only sources.
QList<ListedServer> mergeSources(const QList<QList<ListedServer>> &lists);

} // namespace tarvex::sources
