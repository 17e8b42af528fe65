#include "support/ListPages.h"

namespace tarvex::test {

QString listRow(const ServerRow &row)
{
    return QStringLiteral("<tr><td><font face=\"arial\">%1</font></td>"
                          "<td><font face=\"arial\">%2</font></td>"
                          "<td><font face=\"arial\">%3</font></td>"
                          "<td><font face=\"arial\">%4</font></td>"
                          "<td><font face=\"arial\">0</font></td></tr>")
        .arg(row.name, row.address, row.players, row.map);
}

QString listPage(const QList<ServerRow> &rows, int gap)
{
    QString page = QStringLiteral(
        "<html><head><title>Quake 2 Servers</title></head><body>\n"
        "<table border=\"1\">\n"
        "<tr><td><font face=\"arial\">Name</font></td><td><font face=\"arial\">Address</font></td>"
        "<td><font face=\"arial\">Players</font></td><td><font face=\"arial\">Map</font></td>"
        "<td><font face=\"arial\">Retries</font></td></tr>");
    for (const ServerRow &row : rows)
        page += QLatin1Char('\n') + listRow(row);
    // Closing markup, padded to exactly gap characters before "Notes".
    QString closing = QStringLiteral("</table><hr><p><b>");
    closing = closing.leftJustified(gap, QLatin1Char(' '));
    page += closing;
    page +=
        QStringLiteral("Notes</b>: the list is refreshed every few minutes.</p></body></html>\n");
    return page;
}

QList<ServerRow> generatedRows(int count)
{
    QList<ServerRow> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        rows.append({QStringLiteral("Server %1").arg(i),
                     QStringLiteral("127.0.%1.%2:27910").arg((i / 250) % 256).arg(i % 250 + 1),
                     QStringLiteral("%1/16").arg(i % 17), QStringLiteral("q2dm%1").arg(i % 8 + 1)});
    }
    return rows;
}

} // namespace tarvex::test
