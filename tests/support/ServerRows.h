#pragma once

#include <QList>
#include <QStringList>

namespace tarvex {
class frmTarvex;
class ServerView;
} // namespace tarvex

namespace tarvex::test {

// Lists servers in the window as a refresh of the page does, replacing what it showed:
// each row is {name, address, players, map, ping}, missing texts empty. A ping of digits
// is milliseconds, any other text a failure text.
void listServers(frmTarvex &window, const QList<QStringList> &rows);
// Changes one cell's text the way a list showing it would (rows are added up to row as
// needed; the title row keeps its titles); the grid keeps its order and current row.
void setCell(frmTarvex &window, int row, int col, const QString &text);
// The texts of one row as the grid shows it (row 0: the column titles).
QStringList rowTexts(const ServerView &grid, int row);

} // namespace tarvex::test
