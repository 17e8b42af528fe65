#include "core/browser/ServerListParser.h"
#include "core/grid/GridData.h"
#include "support/ListPages.h"
#include "support/ReferenceParser.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

using namespace tarvex;
using namespace tarvex::test;

namespace {

GridData freshGrid()
{
    GridData grid(2, 5);
    return grid;
}

QStringList rowTexts(const GridData &grid, int row)
{
    QStringList cells;
    for (int c = 0; c < grid.Cols(); ++c)
        cells << grid.TextMatrix(row, c);
    return cells;
}

void compareGrids(const GridData &actual, const GridData &expected)
{
    QCOMPARE(actual.Rows(), expected.Rows());
    for (int r = 0; r < actual.Rows(); ++r)
        QCOMPARE(rowTexts(actual, r), rowTexts(expected, r));
}

const QString Header = QStringLiteral(
    "<html><body><table><tr><td>Name</td><td>Address</td><td>Players</td><td>Map</td>"
    "<td>Retries</td></tr>");

QString withTail(const QString &body, int gap = 70)
{
    return body + QString(gap, QLatin1Char(' '))
        + QStringLiteral("Notes: end of the list.</body></html>") + QString(120, QLatin1Char(' '));
}

} // namespace

class ServerListParserTest : public QObject
{
    Q_OBJECT

private slots:
    void workedExample()
    {
        const QString row = QStringLiteral(
            "<tr><td><font face=\"arial\">Alpha</font></td><td><font "
            "face=\"arial\">10.0.0.1:27910</font></td>"
            "<td><font face=\"arial\">3/8</font></td><td><font face=\"arial\">q2dm1</font></td>"
            "<td><font face=\"arial\">0</font></td></tr>");
        GridData grid = freshGrid();
        ServerList::parsePage(withTail(Header + row), grid);
        QCOMPARE(grid.Rows(), 2);
        QCOMPARE(rowTexts(grid, 1), (QStringList{"Alpha", "10.0.0.1:27910", "3/8", "q2dm1", ""}));
    }

    void rowsInPageOrderWithoutPlaceholder()
    {
        const QList<ServerRow> rows{{"Charlie", "10.0.0.3", "1/8", "q2dm3"},
                                    {"Alpha", "10.0.0.1:27911", "0/8", "q2dm1"},
                                    {"Bravo", "host.example:27910", "8/8", "base1"}};
        GridData grid = freshGrid();
        ServerList::parsePage(listPage(rows), grid);
        QCOMPARE(grid.Rows(), 4);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(
                rowTexts(grid, i + 1),
                (QStringList{rows[i].name, rows[i].address, rows[i].players, rows[i].map, ""}));
        }
        for (int r = 0; r < grid.Rows(); ++r)
            QVERIFY(grid.TextMatrix(r, 0) != ServerList::PlaceholderText);
    }

    void cellMarkers_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("expected");
        QTest::newRow("quoted") << "<font face=\"arial\">Alpha</font>"
                                << "Alpha";
        QTest::newRow("unquoted loses a letter") << "<font face=arial>Alpha</font>"
                                                 << "lpha";
        QTest::newRow("any case") << "<FONT FACE=\"ARIAL\">Alpha</FONT>"
                                  << "Alpha";
        QTest::newRow("empty cell") << "<font face=\"arial\"></font>"
                                    << "";
        QTest::newRow("markup kept") << "<font face=\"arial\"><b>Bold</b></font>"
                                     << "<b>Bold</b>";
    }
    void cellMarkers()
    {
        QFETCH(QString, cell);
        QFETCH(QString, expected);
        const QString row = QStringLiteral("<tr><td>%1</td><td><font face=\"arial\">b</font></td>"
                                           "<td><font face=\"arial\">c</font></td>"
                                           "<td><font face=\"arial\">d</font></td></tr>")
                                .arg(cell);
        GridData grid = freshGrid();
        ServerList::parsePage(withTail(Header + row), grid);
        QCOMPARE(grid.TextMatrix(1, 0), expected);
        QCOMPARE(grid.TextMatrix(1, 3), QStringLiteral("d"));
    }

    void threeCellRowRepeatsItsThirdCell()
    {
        const QString row = QStringLiteral("<tr><td><font face=\"arial\">Alpha</font></td>"
                                           "<td><font face=\"arial\">10.0.0.1</font></td>"
                                           "<td><font face=\"arial\">2/8</font></td></tr>");
        GridData grid = freshGrid();
        ServerList::parsePage(withTail(Header + row), grid);
        QCOMPARE(rowTexts(grid, 1), (QStringList{"Alpha", "10.0.0.1", "2/8", "2/8", ""}));
    }

    void notesInANameEndsTheList()
    {
        QList<ServerRow> rows = generatedRows(4);
        rows[2].name = QStringLiteral("Patch NOTES server");
        GridData grid = freshGrid();
        ServerList::parsePage(listPage(rows), grid);
        // The list ends 63 characters before "NOTES", which reaches back into the row
        // before it: that row loses its "</tr>", so only the first row stays whole and
        // nothing of the named row or after it is listed.
        QVERIFY(grid.Rows() >= 2);
        QCOMPARE(grid.TextMatrix(1, 0), rows[0].name);
        for (int r = 1; r < grid.Rows(); ++r) {
            for (int c = 0; c < 4; ++c) {
                QVERIFY(!grid.TextMatrix(r, c).contains(QLatin1String("Patch")));
                QVERIFY(!grid.TextMatrix(r, c).contains(QLatin1String("Server 3")));
            }
        }
        GridData expected = freshGrid();
        referenceParsePage(listPage(rows), expected);
        compareGrids(grid, expected);
    }

    void tailGapDecidesTheLastRow_data()
    {
        QTest::addColumn<int>("gap");
        QTest::addColumn<int>("rows");
        QTest::newRow("61: last row loses its end") << 61 << -1;
        QTest::newRow("62: kept") << 62 << 4;
        QTest::newRow("112: kept") << 112 << 4;
        QTest::newRow("113: extra rows") << 113 << -1;
    }
    void tailGapDecidesTheLastRow()
    {
        QFETCH(int, gap);
        QFETCH(int, rows);
        const QString page = listPage(generatedRows(3), gap);
        GridData grid = freshGrid();
        ServerList::parsePage(page, grid);
        if (rows > 0) {
            QCOMPARE(grid.Rows(), rows);
            QCOMPARE(grid.TextMatrix(3, 0), QStringLiteral("Server 2"));
        } else {
            QVERIFY(grid.Rows() != 4 || grid.TextMatrix(3, 0) != QStringLiteral("Server 2"));
        }
        GridData expected = freshGrid();
        referenceParsePage(page, expected);
        compareGrids(grid, expected);
    }

    void pageWithoutAnyMarker()
    {
        // 4 characters go, then 4 per pass while more than 50 remain: (300-4-50)/4
        // rounded up = 62 passes, each a row of empty cells.
        const QString page(300, QLatin1Char('x'));
        GridData grid = freshGrid();
        ServerList::parsePage(page, grid);
        QCOMPARE(grid.Rows(), 63);
        for (int r = 1; r < grid.Rows(); ++r)
            QCOMPARE(rowTexts(grid, r), QStringList(5, QString()));
    }

    void trailingTextRepeatsTheLastCell()
    {
        QString page = listPage(generatedRows(2), 62);
        // More than 50 characters without "</tr>" after the last row and before the cut.
        page.insert(page.indexOf(QLatin1String("</table>")), QString(60, QLatin1Char('z')));
        GridData grid = freshGrid();
        ServerList::parsePage(page, grid);
        QVERIFY(grid.Rows() > 3);
        QCOMPARE(grid.TextMatrix(2, 3), QStringLiteral("q2dm2"));
        for (int r = 3; r < grid.Rows(); ++r)
            QCOMPARE(rowTexts(grid, r), (QStringList{"q2dm2", "q2dm2", "q2dm2", "q2dm2", ""}));
    }

    void demoPageListsItsServers()
    {
        QFile demo(QStringLiteral(TARVEX_SOURCE_DIR "/tools/demo/q2servers.html"));
        QVERIFY(demo.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(demo.readAll());
        QVERIFY(page.size() >= ServerList::MinimumPageLength);
        GridData grid = freshGrid();
        ServerList::parsePage(page, grid);
        QCOMPARE(grid.Rows(), 6);
        QCOMPARE(grid.TextMatrix(1, 1), QStringLiteral("127.0.0.2:27910"));
        QCOMPARE(grid.TextMatrix(5, 3), QStringLiteral("q2dm8"));
    }

    // The parser cuts by positions instead of copying the page; on pages assembled at
    // random from the markers and their near misses it must give exactly what cutting
    // the text itself gives.
    void agreesWithPlainCutting()
    {
        const QStringList pieces{
            "<tr>", "</tr>", "</TR>", "<td>", "<font face=\"arial\">", "<font face=arial>", "ARIAL",
            "</font>", "</FONT>", "retries", "RETRIES", "Notes", "nOtEs", "Alpha", "10.0.0.1:27910",
            " ", "\n", "x", "arial\">", "</fon", "</t", "é", "q2dm1",
            // letters outside ASCII whose case folding is an ASCII letter, or near one
            "note\u017f", "ar\u0130al", "ar\u0131al", "\u212a", "</FONT\u0131"};
        QRandomGenerator rng(20261207);
        for (int round = 0; round < 400; ++round) {
            QString page;
            const int count = int(rng.bounded(20, 400));
            for (int i = 0; i < count; ++i)
                page += pieces[int(rng.bounded(pieces.size()))];
            if (page.size() < ServerList::MinimumPageLength)
                page += QString(ServerList::MinimumPageLength, QLatin1Char('.'));
            GridData actual = freshGrid();
            GridData expected = freshGrid();
            ServerList::parsePage(page, actual);
            referenceParsePage(page, expected);
            if (actual.Rows() != expected.Rows())
                qWarning() << "round" << round << page;
            compareGrids(actual, expected);
        }
    }

    void largePage()
    {
        const QList<ServerRow> rows = generatedRows(20000);
        GridData grid = freshGrid();
        ServerList::parsePage(listPage(rows), grid);
        QCOMPARE(grid.Rows(), 20001);
        QCOMPARE(grid.TextMatrix(20000, 0), QStringLiteral("Server 19999"));
        QCOMPARE(grid.TextMatrix(20000, 1), rows.last().address);
        // The row bound keeps the first rows and says the page was cut.
        GridData bounded = freshGrid();
        const ServerList::ParseOutcome outcome =
            ServerList::parsePage(listPage(rows), bounded, 19999);
        QVERIFY(outcome.cut);
        QCOMPARE(outcome.rows, 19999);
        QCOMPARE(bounded.Rows(), 20000);
        QCOMPARE(bounded.TextMatrix(19999, 0), QStringLiteral("Server 19998"));
    }

    void failureMessageBlanks()
    {
        QCOMPARE(ServerList::failureMessage(QStringLiteral("Connection refused")),
                 QStringLiteral("Unable to connect to main server database.  Connection refused"
                                "  Try again by pressing the REFRESH LIST button."));
        QVERIFY(ServerList::failureMessage(QString()).contains(
            QLatin1String("database.    Try again")));
    }
};

QTEST_GUILESS_MAIN(ServerListParserTest)
#include "tst_serverlistparser.moc"
