#include "core/browser/ServerPing.h"

#include <QTest>

using namespace tarvex;

namespace {

QList<ServerPing::Target> targets(const QStringList &addresses)
{
    QList<ServerPing::Target> out;
    for (int i = 0; i < addresses.size(); ++i)
        out.append({model::ServerKey::fromAddressText(addresses[i]), addresses[i], i + 1});
    return out;
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

    void hostIsCutAtTheFirstColon()
    {
        const ServerPing::Run run = ServerPing::Run::list(
            targets({"192.168.0.10:27910", "192.168.0.10", "a:b:c", ":27910", "name.example:1"}),
            6);
        QCOMPARE(run.hosts(),
                 (QStringList{"192.168.0.10", "192.168.0.10", "a", "", "name.example"}));
    }

    // Answers in any order: each names its server once; the list's progress counts the
    // answers so far against the grid's rows, title row included.
    void listAnswersInAnyOrder()
    {
        ServerPing::Run run =
            ServerPing::Run::list(targets({"10.0.0.1", "10.0.0.2", "10.0.0.3"}), 4);
        const auto third = run.answer(2, QVariant(47));
        QVERIFY(third);
        QCOMPARE(third->key, model::ServerKey::fromAddressText(u"10.0.0.3"));
        QCOMPARE(third->result, QVariant(47));
        QCOMPARE(third->progress, QStringLiteral("Pinging Servers - 25%"));
        QVERIFY(!run.answer(2, QVariant(48))); // answered already
        QVERIFY(!run.answer(3, QVariant(1))); // no such host
        QVERIFY(!run.answer(-1, QVariant(1)));
        QCOMPARE(run.answer(0, QStringLiteral("Timed Out"))->progress,
                 QStringLiteral("Pinging Servers - 50%"));
        QVERIFY(!run.finished());
        QCOMPARE(run.answer(1, QVariant())->progress, QStringLiteral("Pinging Servers - 75%"));
        QVERIFY(run.finished());
        QVERIFY(ServerPing::Run::list({}, 1).isEmpty());
    }

    void selectedServer()
    {
        ServerPing::Run run = ServerPing::Run::selected(targets({"a", "10.0.0.2:27910"}).at(1), 5);
        QCOMPARE(run.hosts(), QStringList{"10.0.0.2"});
        QCOMPARE(run.answer(0, QVariant(12))->progress, QStringLiteral("Pinging Server - 40%"));
        QCOMPARE(ServerPing::resultText(QVariant(12)), QStringLiteral("12"));
        QCOMPARE(ServerPing::resultText(QVariant()), QString());
    }
};

QTEST_GUILESS_MAIN(ServerPingTest)
#include "tst_serverping.moc"
