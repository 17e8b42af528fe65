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

// Records what the walk does; answers every ping with "ms:<host>".
struct Recorder
{
    QStringList hosts;
    QStringList statuses;
    std::function<std::optional<QVariant>(const QString &)> answer = [](const QString &host) {
        return std::optional<QVariant>(QStringLiteral("ms:") + host);
    };
    std::function<bool()> pump = [] { return true; };

    ServerPing::Hooks hooks()
    {
        ServerPing::Hooks h;
        h.send = [this](const QString &host) {
            hosts << host;
            return answer(host);
        };
        h.status = [this](const QString &text) { statuses << text; };
        h.pump = [this] { return pump(); };
        return h;
    }
};

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
    void listStatusSequence()
    {
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, statuses);
        GridData grid = serverGrid(addresses);
        Recorder rec;
        QVERIFY(ServerPing::pingList(grid, rec.hooks()));
        QCOMPARE(rec.hosts, addresses);
        QCOMPARE(rec.statuses, statuses + QStringList{ServerPing::FinishedText});
    }

    void titleRowOnlySendsNothing()
    {
        GridData grid(1, 5);
        Recorder rec;
        QVERIFY(ServerPing::pingList(grid, rec.hooks()));
        QVERIFY(rec.hosts.isEmpty());
        QCOMPARE(rec.statuses, QStringList{ServerPing::FinishedText});
    }

    void hostIsCutAtTheFirstColon()
    {
        GridData grid =
            serverGrid({"192.168.0.10:27910", "192.168.0.10", "a:b:c", ":27910", "name.example:1"});
        Recorder rec;
        ServerPing::pingList(grid, rec.hooks());
        QCOMPARE(rec.hosts, (QStringList{"192.168.0.10", "192.168.0.10", "a", "", "name.example"}));
    }

    void resultsGoIntoThePingColumnOnly()
    {
        GridData grid = serverGrid({"10.0.0.1", "10.0.0.2:27911", "10.0.0.3", "10.0.0.4"});
        grid.setTextMatrix(4, 4, QStringLiteral("old"));
        const QStringList names = column(grid, 0);
        const QStringList addresses = column(grid, 1);
        Recorder rec;
        rec.answer = [](const QString &host) -> std::optional<QVariant> {
            if (host == QLatin1String("10.0.0.1"))
                return QVariant(47);
            if (host == QLatin1String("10.0.0.2"))
                return QVariant(QStringLiteral("Timed Out"));
            if (host == QLatin1String("10.0.0.3"))
                return QVariant(); // nothing
            return std::nullopt; // the ping failed: the cell keeps its text
        };
        QVERIFY(ServerPing::pingList(grid, rec.hooks()));
        QCOMPARE(column(grid, 4), (QStringList{"47", "Timed Out", "", "old"}));
        QCOMPARE(column(grid, 0), names);
        QCOMPARE(column(grid, 1), addresses);
        QCOMPARE(rec.statuses.last(), ServerPing::FinishedText);
    }

    // A refresh inside the walk shrinks the grid: the walk keeps its last row, skips
    // the rows that are gone, shows progress against the new count and finishes.
    void rowsThatGoAwayAreSkipped()
    {
        GridData grid = serverGrid({"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"});
        Recorder rec;
        rec.pump = [&] {
            if (rec.hosts.size() == 1) {
                while (grid.RemoveItem(grid.Rows())) { }
                grid.setTextMatrix(1, 1, QStringLiteral("10.9.9.9"));
            }
            return true;
        };
        QVERIFY(ServerPing::pingList(grid, rec.hooks()));
        QCOMPARE(rec.hosts, (QStringList{"10.0.0.1"}));
        QCOMPARE(rec.statuses,
                 (QStringList{"Pinging Servers - 20%", "Pinging Servers - 100%",
                              "Pinging Servers - 150%", "Pinging Servers - 200%",
                              ServerPing::FinishedText}));
        QCOMPARE(grid.Rows(), 2);
    }

    void endingStopsTheWalk()
    {
        GridData grid = serverGrid({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        Recorder rec;
        rec.pump = [] { return false; };
        QVERIFY(!ServerPing::pingList(grid, rec.hooks()));
        QCOMPARE(rec.hosts, QStringList{"10.0.0.1"});
        QVERIFY(!rec.statuses.contains(ServerPing::FinishedText));
    }

    void selectedRow()
    {
        GridData grid = serverGrid({"10.0.0.1", "10.0.0.2:27910", "10.0.0.3", "10.0.0.4"});
        Recorder rec;
        QVERIFY(ServerPing::pingRow(grid, 2, rec.hooks()));
        QCOMPARE(rec.hosts, QStringList{"10.0.0.2"});
        QCOMPARE(column(grid, 4), (QStringList{"", "ms:10.0.0.2", "", ""}));
        QCOMPARE(rec.statuses, (QStringList{"Pinging Server - 40%", ServerPing::FinishedText}));
        // The title row is no server.
        rec.hosts.clear();
        rec.statuses.clear();
        QVERIFY(ServerPing::pingRow(grid, 0, rec.hooks()));
        QVERIFY(rec.hosts.isEmpty());
        QVERIFY(rec.statuses.isEmpty());
        QCOMPARE(grid.TextMatrix(0, 4), QString());
    }
};

QTEST_GUILESS_MAIN(ServerPingTest)
#include "tst_serverping.moc"
