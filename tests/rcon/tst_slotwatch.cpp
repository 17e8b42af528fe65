// Waiting for a free slot on a full loopback stand-in server.
#include "core/rcon/SlotWatch.h"

#include <QSignalSpy>
#include "support/UdpAnswerer.h"

#include <QTest>
#include <QUdpSocket>

using namespace tarvex;

namespace {

// Answers each status ask with the next of its player counts (the last one repeats),
// for a server of two slots.
class StandIn : public test::UdpAnswerer
{
public:
    explicit StandIn(QList<int> counts)
        : UdpAnswerer([this](const QByteArray &, quint16) {
              const int players = m_counts.value(qMin(asks++, int(m_counts.size()) - 1));
              QByteArray answer =
                  QByteArray(4, '\xff') + "print\n\\maxclients\\2\\hostname\\Stand-in\n";
              for (int i = 0; i < players; ++i)
                  answer += QByteArray::number(i) + " 50 \"p" + QByteArray::number(i) + "\"\n";
              return QList<QByteArray>{answer};
          }),
          m_counts(std::move(counts))
    { }
    int asks = 0;

private:
    QList<int> m_counts;
};

} // namespace

class SlotWatchTest : public QObject
{
    Q_OBJECT

private slots:
    // Two full answers (one ahead, then two ahead of free), then a free slot: free()
    // fires once and the asking stops.
    void freesUp()
    {
        StandIn server({2, 3, 1});
        SlotWatch watch(QHostAddress::LocalHost, server.port());
        watch.allowFastPaceForTests();
        watch.setTimings(100, 60000);
        QSignalSpy waiting(&watch, &SlotWatch::waiting);
        QSignalSpy freed(&watch, &SlotWatch::free);
        QVERIFY(watch.start());
        QVERIFY(freed.wait(3000));
        QCOMPARE(freed[0][0].toInt(), 1);
        QCOMPARE(freed[0][1].toInt(), 2);
        QCOMPARE(server.asks, 3);
        QVERIFY(waiting.size() >= 2);
        QCOMPARE(waiting[0][0].toInt(), 1);
        QCOMPARE(waiting[1][0].toInt(), 2);
        QVERIFY(!watch.running());
        QTest::qWait(300);
        QCOMPARE(server.asks, 3);
        QCOMPARE(freed.size(), 1);
    }

    // The pace is never below 3 s; stop() ends the asking; the limit gives up.
    void paceStopAndLimit()
    {
        StandIn server({2});
        SlotWatch watch(QHostAddress::LocalHost, server.port());
        watch.setTimings(10, 60000);
        QVERIFY(watch.start());
        QTest::qWait(400);
        QCOMPARE(server.asks, 1);
        QCOMPARE(watch.ahead(), 1);
        QVERIFY(watch.secondsToNextAsk() >= 2 && watch.secondsToNextAsk() <= 3);
        watch.stop();
        QVERIFY(!watch.running());

        SlotWatch limited(QHostAddress::LocalHost, server.port());
        limited.allowFastPaceForTests();
        limited.setTimings(50, 200);
        QSignalSpy gaveUp(&limited, &SlotWatch::gaveUp);
        QVERIFY(limited.start());
        QVERIFY(gaveUp.wait(3000));
        QVERIFY(!limited.running());
        const int asked = server.asks;
        QTest::qWait(200);
        QCOMPARE(server.asks, asked);
    }
};

QTEST_GUILESS_MAIN(SlotWatchTest)
#include "tst_slotwatch.moc"
