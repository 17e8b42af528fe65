// The refresh pipeline on its own: sources failing one by one and all together, a
// cancel at each step, the page-only refresh, and a pipeline that goes away mid-way.
#include "core/pipeline/RefreshPipeline.h"
#include "support/ListPages.h"
#include "support/TestSupport.h"
#include "ListService.h"

#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

using namespace tarvex;
using namespace tarvex::sources;

namespace {

// A loopback port nothing listens on: a status query there comes back "down" at once.
quint16 closedPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Records every signal of a pipeline in order, by name.
struct Trace
{
    QStringList events;
    explicit Trace(RefreshPipeline &p)
    {
        QObject::connect(&p, &RefreshPipeline::listed, [this](const RefreshPipeline::Listing &l) {
            events
                << QStringLiteral("listed %1 failed %2").arg(l.rows.size()).arg(l.failures.size());
        });
        QObject::connect(&p, &RefreshPipeline::nothingListed,
                         [this](const QList<RefreshPipeline::Failure> &f) {
                             events << QStringLiteral("nothing %1").arg(f.size());
                         });
        QObject::connect(&p, &RefreshPipeline::unanswered,
                         [this](const ServerAddress &, bool down) {
                             events << (down ? QStringLiteral("down") : QStringLiteral("silent"));
                         });
        QObject::connect(&p, &RefreshPipeline::pinging,
                         [this] { events << QStringLiteral("ping"); });
        QObject::connect(&p, &RefreshPipeline::finished, [this](RefreshPipeline::End e) {
            events << QStringLiteral("end %1").arg(int(e));
        });
    }
};

bool waitIdle(const RefreshPipeline &p)
{
    return QTest::qWaitFor([&p] { return !p.isRunning(); }, 15000);
}

const QString Done = QStringLiteral("end 0"), Cancelled = QStringLiteral("end 1"),
              NoList = QStringLiteral("end 2");

} // namespace

class TestPipeline : public QObject
{
    Q_OBJECT

    tools::ListService m_lists;
    test::TempSettings m_settings;

private slots:
    void initTestCase()
    {
        QVERIFY(m_lists.listen());
        m_lists.setDocument("/?raw=1", QStringLiteral("127.0.0.1:%1\n").arg(closedPort()).toUtf8());
    }

    void sourcesFailing()
    {
        const SourceEntry good{SourceKind::TextList, m_lists.baseUrl() + "/?raw=1", true};
        const SourceEntry missing{SourceKind::TextList, m_lists.baseUrl() + "/gone", true};
        const SourceEntry badMaster{SourceKind::Master, "no port:x", true};
        RefreshPipeline p;
        Trace t(p);
        // One fails: the others' list stands, the failure is named, the servers are asked.
        p.start({good, missing}, false);
        QVERIFY(waitIdle(p));
        QCOMPARE(t.events, (QStringList{"listed 1 failed 1", "down", Done}));
        // Every one fails: nothing is listed and each is named.
        t.events.clear();
        p.start({missing, badMaster}, true);
        QVERIFY(waitIdle(p));
        QCOMPARE(t.events, (QStringList{NoList, "nothing 2"}));
        // None switched on.
        t.events.clear();
        p.start({{SourceKind::Favourites, "127.0.0.1:27910", false}}, true);
        QVERIFY(waitIdle(p));
        QCOMPARE(t.events, (QStringList{NoList, "nothing 0"}));
    }

    // The page alone is listed as the page gives it; nobody is asked for a status.
    void pageOnlyAsksNobody()
    {
        m_lists.setPage(test::listPage({{"Alpha", "127.0.0.1:" + QString::number(closedPort()),
                                         "1/8", "base1"}})
                            .toUtf8());
        RefreshPipeline p;
        Trace t(p);
        p.start({{SourceKind::Page, m_lists.baseUrl(), true}}, false);
        QVERIFY(waitIdle(p));
        QCOMPARE(t.events, (QStringList{"listed 1 failed 0", Done}));
    }

    void cancelAtEachStep()
    {
        const SourceEntry list{SourceKind::TextList, m_lists.baseUrl() + "/?raw=1", true};
        RefreshPipeline p;
        Trace t(p);
        int pingCancels = 0;
        p.setPingStep([] { return true; }, [&] { ++pingCancels; });

        // While the sources are fetched: the stalled fetch reports nothing afterwards.
        m_lists.setMode(tools::ListService::Mode::Stall);
        p.start({list}, true);
        QCOMPARE(p.step(), RefreshPipeline::Step::Sources);
        p.cancel();
        QCOMPARE(t.events, QStringList{Cancelled});
        QTest::qWait(200);
        QCOMPARE(t.events, QStringList{Cancelled});
        m_lists.setMode(tools::ListService::Mode::Normal);

        // While the servers are asked (a silent one: nothing answers before the cancel).
        t.events.clear();
        p.start({{SourceKind::Favourites, "192.0.2.1:27910", true}}, true);
        QTRY_COMPARE(p.step(), RefreshPipeline::Step::Status);
        p.cancel();
        QCOMPARE(t.events, (QStringList{"listed 1 failed 0", Cancelled}));

        // While pinging: the ping step is told to stop.
        t.events.clear();
        p.start({list}, true);
        QTRY_COMPARE(p.step(), RefreshPipeline::Step::Ping);
        p.cancel();
        QCOMPARE(pingCancels, 1);
        QCOMPARE(t.events, (QStringList{"listed 1 failed 0", "down", "ping", Cancelled}));
        // A ping step that finishes ends the refresh.
        t.events.clear();
        p.start({list}, true);
        QTRY_COMPARE(p.step(), RefreshPipeline::Step::Ping);
        p.pingFinished();
        QCOMPARE(t.events.last(), Done);
    }

    // A pipeline deleted mid-refresh reports nothing and leaves nothing running.
    void goneMidRefresh()
    {
        m_lists.setMode(tools::ListService::Mode::Stall);
        auto p = std::make_unique<RefreshPipeline>();
        Trace t(*p);
        p->start({{SourceKind::TextList, m_lists.baseUrl() + "/?raw=1", true}}, false);
        p.reset();
        QTest::qWait(100);
        QCOMPARE(t.events, QStringList());
        m_lists.setMode(tools::ListService::Mode::Normal);
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
