#pragma once

#include <QString>
#include <QStringList>

namespace tarvex::test {

// Server-list pages in the list host's format, for tests and benchmarks.
struct ServerRow
{
    QString name, address, players, map;
};

// One table row with the four cells and a fifth ("retries" count) that is never read.
QString listRow(const ServerRow &row);

// A whole page: head, header row (with "Retries"), the rows, then gap characters of
// closing markup before the word "Notes" (62 to 112 keeps exactly the given rows).
QString listPage(const QList<ServerRow> &rows, int gap = 70);

// rows generated servers named "Server N" on 127.0.x.y addresses.
QList<ServerRow> generatedRows(int count);

} // namespace tarvex::test
