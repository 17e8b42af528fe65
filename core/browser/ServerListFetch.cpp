#include "core/browser/ServerListFetch.h"

#include "core/browser/ServerListParser.h"
#include "core/browser/Settings.h"
#include "core/grid/GridData.h"
#include "core/net/HttpTransfer.h"

#include <QUrl>

namespace tarvex::ServerList {

QUrl pageUrl(const QString &pageHost, QString *error)
{
    const QString unusable = pageHost.isEmpty()
        ? Settings::endpointProblem(Settings::KeyServerListHost)
        : Settings::webHostProblem(QStringLiteral("list source"), pageHost);
    if (!unusable.isEmpty()) {
        if (error)
            *error = unusable;
        return QUrl();
    }
    if (pageHost.isEmpty())
        return Settings::endpointUrl(Settings::KeyServerListHost, ListPath);
    QUrl url(pageHost, QUrl::StrictMode);
    url.setPath(ListPath);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

FetchedList readPage(HttpTransfer::Result fetched)
{
    FetchedList list;
    const QString page = fetched.ok ? HttpTransfer::decodeBody(fetched.body) : QString();
    fetched.body.clear();
    if (page.size() < MinimumPageLength) {
        list.error = fetched.error;
        return list;
    }

    GridData parsed(2, 4);
    const ParseOutcome outcome = parsePage(page, parsed);
    list.ok = true;
    list.cut = outcome.cut;
    list.rows.reserve(outcome.rows);
    for (int r = 1; r <= outcome.rows && r < parsed.Rows(); ++r)
        list.rows.append(parsed.rowCells(r));
    return list;
}

void fillGrid(const FetchedList &list, IGrid &grid)
{
    GridBatch batch(grid);
    int row = 1;
    for (const QStringList &cells : list.rows) {
        for (int col = 0; col < cells.size() && col <= 3; ++col)
            grid.setTextMatrix(row, col, cells.at(col));
        grid.AddItem(PlaceholderText);
        ++row;
    }
    if (grid.Rows() > 2)
        grid.RemoveItem(grid.Rows() - 1);
}

} // namespace tarvex::ServerList
