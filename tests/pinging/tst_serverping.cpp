#include "core/browser/ServerPing.h"
#include "core/grid/GridData.h"

#include <QTest>

using namespace tarvex;

namespace {

// A grid of servers named S1, S2, ... with the given addresses.
GridData serverGrid(const QStringList &addresses)
{
    GridData grid(2, 5);
    for (int i = 0; i < addresses.size(); ++i) {
        if (i > 0)
            grid.AddItem(QString());
        grid.setTextMatrix(i + 1, 0, QStringLiteral("S%1").arg(i + 1));
        grid.setTextMatrix(i + 1, 1, addresses[i]);
    }
    return grid;
}

QStringList column(const IGrid &grid, int col)
{
    QStringList cells;
    for (int r = 1; r < grid.Rows(); ++r)
        cells << grid.TextMatrix(r, col);
    return cells;
}

} // namespace

class ServerPingTest : public QObject
{
    Q_OBJECT

private slots:
    void percentText_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("text");
        QTest::newRow("1/3") << 1 << 3 << "33%";
        QTest::newRow("2/3") << 2 << 3 << "67%";
        QTest::newRow("1/2") << 1 << 2 << "50%";
        QTest::newRow("2/5") << 2 << 5 << "40%";
        QTest::newRow("1/8 half up") << 1 << 8 << "13%";
        QTest::newRow("3/8 half up") << 3 << 8 << "38%";
        QTest::newRow("199/200") << 199 << 200 << "100%";
        QTest::newRow("1/201") << 1 << 201 << "0%";
    }
    void percentText()
    {
        QFETCH(int, row);
        QFETCH(int, rows);
        QFETCH(QString, text);
        QCOMPARE(ServerPing::percentText(row, rows), text);
    }

    void listStatusSequence_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("statuses");
        QTest::newRow("two servers")
            << QStringList{"10.0.0.1", "10.0.0.2"}
            << QStringList{"Pinging Servers - 33%", "Pinging Servers - 67%"};
        QTest::newRow("three servers")
            << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"}
            << QStringList{"Pinging Servers - 25%", "Pinging Servers - 50%",
                           "Pinging Servers - 75%"};
        // The empty list still has its one empty data row, and it is pinged.
        QTest::newRow("no server") << QStringList{""} << QStringList{"Pinging Servers - 50%"};
    }
    // Answers in row order: the progress counts answers against the grid's rows.
    void listStatusSequence()
    {
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, statuses);
        GridData grid = serverGrid(addresses);
        ServerPing::Run run = ServerPing::Run::list(grid);
        QCOMPARE(run.hosts(), addresses);
        QStringList shown;
        for (int i = 0; i < addresses.size(); ++i)
            shown << run.answer(grid, i, QVariant(i));
        QCOMPARE(shown, statuses);
        QVERIFY(run.finished());
    }

    void titleRowOnlyPingsNothing()
    {
        GridData grid(1, 5);
        QVERIFY(ServerPing::Run::list(grid).isEmpty());
        QVERIFY(ServerPing::Run::selected(grid, 0).isEmpty());
    }

    void hostIsCutAtTheFirstColon()
    {
        GridData grid =
            serverGrid({"192.168.0.10:27910", "192.168.0.10", "a:b:c", ":27910", "name.example:1"});
        QCOMPARE(ServerPing::Run::list(grid).hosts(),
                 (QStringList{"192.168.0.10", "192.168.0.10", "a", "", "name.example"}));
    }

    // Answers in any order, each into its own row's "Ping" cell and nowhere else; one that
    // is not awaited (out of range, or answered already) changes nothing.
    void resultsGoIntoThePingColumnOnly()
    {
        GridData grid = serverGrid({"10.0.0.1", "10.0.0.2:27911", "10.0.0.3", "10.0.0.4"});
        grid.setTextMatrix(4, 4, QStringLiteral("old"));
        const QStringList names = column(grid, 0);
        const QStringList addresses = column(grid, 1);
        ServerPing::Run run = ServerPing::Run::list(grid);
        QCOMPARE(run.answer(grid, 2, QVariant()), QStringLiteral("Pinging Servers - 20%"));
        QCOMPARE(run.answer(grid, 0, QVariant(47)), QStringLiteral("Pinging Servers - 40%"));
        QCOMPARE(run.answer(grid, 1, QStringLiteral("Timed Out")),
                 QStringLiteral("Pinging Servers - 60%"));
        QCOMPARE(run.answer(grid, 0, QVariant(99)), QString());
        QCOMPARE(run.answer(grid, 7, QVariant(99)), QString());
        QVERIFY(!run.finished());
        QCOMPARE(column(grid, 4), (QStringList{"47", "Timed Out", "", "old"}));
        QCOMPARE(column(grid, 0), names);
        QCOMPARE(column(grid, 1), addresses);
    }

    // A refresh while the answers come refills or shrinks the grid: an answer for a row
    // that is gone or now holds another server is not written, and still counts.
    void answersForRefilledRowsAreDropped()
    {
        GridData grid = serverGrid({"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"});
        ServerPing::Run run = ServerPing::Run::list(grid);
        while (grid.RemoveItem(grid.Rows())) { }
        grid.setTextMatrix(1, 1, QStringLiteral("10.9.9.9"));
        QCOMPARE(grid.Rows(), 2);
        QStringList shown;
        for (int i = 0; i < 4; ++i)
            shown << run.answer(grid, i, QVariant(5));
        QCOMPARE(shown,
                 (QStringList{"Pinging Servers - 50%", "Pinging Servers - 100%",
                              "Pinging Servers - 150%", "Pinging Servers - 200%"}));
        QCOMPARE(grid.TextMatrix(1, 4), QString());
        QVERIFY(run.finished());
    }

    void selectedRow()
    {
        GridData grid = serverGrid({"10.0.0.1", "10.0.0.2:27910", "10.0.0.3", "10.0.0.4"});
        ServerPing::Run run = ServerPing::Run::selected(grid, 2);
        QCOMPARE(run.hosts(), QStringList{"10.0.0.2"});
        QCOMPARE(run.answer(grid, 0, QStringLiteral("ms")), QStringLiteral("Pinging Server - 40%"));
        QCOMPARE(column(grid, 4), (QStringList{"", "ms", "", ""}));
        // The title row is no server.
        QVERIFY(ServerPing::Run::selected(grid, 0).isEmpty());
    }
};

QTEST_GUILESS_MAIN(ServerPingTest)
#include "tst_serverping.moc"
