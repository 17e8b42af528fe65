#pragma once

#include "core/net/HttpTransfer.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace tarvex {
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

// The list page's address on pageHost (scheme, host, optional port), or on the
// configured list host when pageHost is empty. Empty, with the reason in *error, when
// the host cannot be used; nothing may then be fetched.
QUrl pageUrl(const QString &pageHost, QString *error);

// Reads a finished fetch of the page: decodes it, checks its length and parses it.
FetchedList readPage(HttpTransfer::Result fetched);

// Writes the rows of a successful fetch into grid as parsing the page into it would:
// rows 1, 2, ... get the four cells, each new row comes as the placeholder row, and
// the last placeholder goes again.
void fillGrid(const FetchedList &list, IGrid &grid);

} // namespace ServerList
} // namespace tarvex
