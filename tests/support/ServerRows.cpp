#include "support/ServerRows.h"

#include "browser/frmTarvex.h"
#include "core/model/ServerModel.h"
#include "ui/ServerView.h"

namespace tarvex::test {

void listServers(frmTarvex &window, const QList<QStringList> &rows)
{
    model::ServerModel &servers = *window.serverModel();
    model::ServerModel::Batch batch(servers);
    servers.clear();
    int ordinal = 0;
    for (const QStringList &r : rows) {
        const QString address = r.value(1);
        model::ServerKey key = model::ServerKey::fromAddressText(address);
        if (address.isEmpty() || servers.rowOf(key) >= 0)
            key = {0, 0, address + QChar(0) + QString::number(++ordinal)};
        servers.upsertListed(key, QStringLiteral("page"),
                             {r.value(0), address, r.value(2), r.value(3), true});
        bool isNumber = false;
        const int ms = r.value(4).toInt(&isNumber);
        if (isNumber)
            servers.setPing(key, ms);
        else if (!r.value(4).isEmpty())
            servers.setPingError(key, r.value(4));
    }
}

void setCell(frmTarvex &window, int row, int col, const QString &text)
{
    const ServerView &grid = *window.Grid1;
    if (row < 1 || col < 0 || col >= grid.Cols())
        return;
    QList<QStringList> rows;
    for (int r = 1; r < grid.Rows(); ++r)
        rows.append(rowTexts(grid, r));
    while (rows.size() < row)
        rows.append(QStringList(grid.Cols(), QString()));
    rows[row - 1][col] = text;
    const int current = grid.Row();
    listServers(window, rows);
    window.Grid1->setRow(current);
}

QStringList rowTexts(const ServerView &grid, int row)
{
    QStringList cells;
    for (int c = 0; c < grid.Cols(); ++c)
        cells << grid.TextMatrix(row, c);
    return cells;
}

} // namespace tarvex::test
