// The history charts widget: words for a server without history, charts (or, without
// Qt Charts, the same facts in words) once there is some.
#include "core/history/HistoryStore.h"
#include "history/HistoryCharts.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tarvex;
using namespace tarvex::history;

class tst_HistoryCharts : public QObject
{
    Q_OBJECT

private slots:
    void wordsUntilThereIsHistory()
    {
        QTemporaryDir dir;
        HistoryStore store;
        store.setTimeZone(QTimeZone::utc());
        QVERIFY(store.open(dir.filePath(QStringLiteral("history.sqlite"))));
        const model::ServerKey key = model::ServerKey::fromAddressText(u"127.0.0.1:27910");
        HistoryCharts charts(&store);
        const qint64 t0 = QDateTime::fromString(QStringLiteral("2026-07-01T20:10:00Z"), Qt::ISODate)
                              .toSecsSinceEpoch();
        charts.showServer(key, t0);
        QVERIFY(!charts.showingCharts());
        QCOMPARE(charts.text(), QStringLiteral("No history yet for this server."));

        QVERIFY(store.record({{key, true, 3, 16, QStringLiteral("q2dm1")}}, t0));
        QVERIFY(store.record({{key, true, 9, 16, QStringLiteral("q2dm1")}}, t0 + 1800));
        QVERIFY(store.record({{key, false, 0, -1, {}}}, t0 + 3600));
        charts.showServer(key, t0 + 3600);
        QCOMPARE(charts.showingCharts(), HistoryCharts::drawsCharts());
        QCOMPARE(charts.text(),
                 QStringLiteral("Last 24 hours: at most 9 of 16 players (2 answers). Busiest hour"
                                " over the last 7 days: 20:00, 6.0 players on average."));

        // A server with silent samples only still has no history to show.
        const model::ServerKey quiet = model::ServerKey::fromAddressText(u"127.0.0.2:27910");
        QVERIFY(store.record({{quiet, false, 0, -1, {}}}, t0 + 3700));
        charts.showServer(quiet, t0 + 3700);
        QVERIFY(!charts.showingCharts());
        QCOMPARE(charts.text(), QStringLiteral("No history yet for this server."));
    }
};

QTEST_MAIN(tst_HistoryCharts)
#include "tst_historycharts.moc"
