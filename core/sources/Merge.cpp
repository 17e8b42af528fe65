#include "core/sources/Merge.h"

#include <QSet>

namespace tarvex::sources {

ListedServer pageRow(const QString &name, const QString &address, const QString &players,
                     const QString &map)
{
    ListedServer row;
    row.name = name;
    row.address = address;
    row.players = players;
    row.map = map;
    row.fromPage = true;
    const QString trimmed = address.trimmed();
    row.target = parseAddressText(
        trimmed.contains(u':') ? trimmed : trimmed + QStringLiteral(":%1").arg(DefaultGamePort));
    if (row.target && checkAddress(*row.target) != AddressCheck::Usable)
        row.target.reset();
    return row;
}

QList<ListedServer> addressRows(const QList<ServerAddress> &addresses)
{
    QList<ListedServer> rows;
    rows.reserve(addresses.size());
    for (const ServerAddress &a : addresses) {
        ListedServer row;
        row.address = a.toString();
        row.target = a;
        rows.append(row);
    }
    return rows;
}

QList<ListedServer> mergeSources(const QList<QList<ListedServer>> &lists)
{
    QList<ListedServer> merged;
    QSet<quint64> earlier; // targets of the sources before the current one
    int fromLists = 0;
    for (const QList<ListedServer> &list : lists) {
        QSet<quint64> here;
        for (const ListedServer &row : list) {
            const bool known = row.target && earlier.contains(row.target->key());
            if (known || (!row.fromPage && row.target && here.contains(row.target->key())))
                continue;
            if (!row.fromPage) {
                if (fromLists >= MaxListEntries)
                    break;
                ++fromLists;
            }
            if (row.target)
                here.insert(row.target->key());
            merged.append(row);
        }
        earlier.unite(here);
    }
    return merged;
}

} // namespace tarvex::sources
