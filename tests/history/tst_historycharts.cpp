// The history charts widget: words for a server without history, charts (or, without
// Qt Charts, the same facts in words) once there is some.
#include "browser/frmTarvex.h"
#include "core/history/HistoryStore.h"
#include "core/model/ServerModel.h"
#include "core/sources/Merge.h"
#include "core/status/StatusReply.h"
#include "history/HistoryCharts.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QMenu>
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

    // The window records the answered and the silent servers of a refresh that listed
    // servers, and nothing for a refresh that listed none.
    void windowRecordsEachRefresh()
    {
        test::TempSettings settings;
        test::PromptRecorder prompts;
        QTemporaryDir data;
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        frmTarvex window(nullptr, frmTarvex::PingControl::Skip);
        QVERIFY(window.mnuOptions->findChild<QAction *>(QStringLiteral("mnuHistory")));

        RefreshPipeline::Listing listing;
        listing.rows = {sources::pageRow("One", "127.0.0.1:27910", "", ""),
                        sources::pageRow("Two", "127.0.0.2:27910", "", "")};
        listing.pageOnly = true;
        emit window.refreshPipeline()->listed(listing);
        const auto one = model::ServerKey::fromAddressText(u"127.0.0.1:27910");
        const auto two = model::ServerKey::fromAddressText(u"127.0.0.2:27910");
        status::ServerStatus answer;
        answer.info = {{"hostname", "One"}, {"mapname", "q2dm8"}, {"maxclients", "12"}};
        answer.players = {{3, 20, "a"}, {5, 30, "b"}};
        QVERIFY(window.serverModel()->setAnswer(one, answer, 20));
        QVERIFY(window.serverModel()->setFailed(two, false));
        emit window.refreshFinished();

        history::HistoryStore *store = window.historyStore();
        QVERIFY(store->isOpen());
        QVERIFY(store->path().startsWith(data.path()));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QVERIFY(store->lastSeen(one));
        QCOMPARE(store->peakToday(one, now), 2);
        const ChartData chart = store->chartData(one, now + 1);
        QCOMPARE(chart.day.size(), 1);
        QCOMPARE(chart.day[0].maxClients, 12);
        QCOMPARE(store->chartData(two, now + 1).day.size(), 1);
        QVERIFY(!store->lastSeen(two));

        // A refresh stopped before its list came records nothing again.
        emit window.refreshFinished();
        QCOMPARE(store->chartData(one, now + 1).day.size(), 1);
        qputenv("XDG_DATA_HOME", oldData);
    }
};

QTEST_MAIN(tst_HistoryCharts)
#include "tst_historycharts.moc"
