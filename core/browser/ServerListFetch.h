#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvex {
class HttpTransfer;
class IGrid;

namespace ServerList {

// One fetch of the server list: the rows cut from the page, or why there are none.
struct FetchedList
{
    bool ok = false; // a page long enough to parse came and was parsed
    QString error; // when !ok: the failure's description (empty: a short page)
    QList<QStringList> rows; // name, address, players, map of each server, in page order
    bool cut = false; // the page held more than MaxRows rows; the rest was dropped
};

// Fetches the list page with transfer from pageHost (scheme, host, optional port), or
// from the configured list host when pageHost is empty; decodes it, checks its length
// and parses it. A host that cannot be used is reported as the failure and nothing is
// fetched.
FetchedList fetchServerList(HttpTransfer &transfer, const QString &pageHost = QString());

// Writes the rows of a successful fetch into grid as parsing the page into it would:
// rows 1, 2, ... get the four cells, each new row comes as the placeholder row, and
// the last placeholder goes again.
void fillGrid(const FetchedList &list, IGrid &grid);

} // namespace ServerList
} // namespace tarvex
