// The remote console client against a loopback stand-in server, and the password launch.
#include "core/browser/GameLaunch.h"
#include "core/rcon/RconClient.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include "support/UdpAnswerer.h"

#include <QTest>
#include <QUdpSocket>

using namespace tarvex;

namespace {

// Answers every rcon packet with the given print packets, from its own port.
class StandIn : public test::UdpAnswerer
{
public:
    explicit StandIn(QList<QByteArray> answers)
        : UdpAnswerer([this](const QByteArray &query, quint16 fromPort) {
              received << query;
              clientPort = fromPort;
              QList<QByteArray> out;
              for (const QByteArray &text : m_answers)
                  out << QByteArray("\xff\xff\xff\xffprint\n", 10) + text;
              return out;
          }),
          m_answers(std::move(answers))
    { }
    QList<QByteArray> received;
    quint16 clientPort = 0;

private:
    QList<QByteArray> m_answers;
};

} // namespace

class RconTest : public QObject
{
    Q_OBJECT

private slots:
    // One packet, several packets gathered in order, a wrong password, and silence.
    void exchange_data()
    {
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("one packet") << QList<QByteArray>{"map q2dm1\n"}
                                    << int(RconClient::Result::Answered) << "map q2dm1\n";
        QTest::newRow("several packets")
            << QList<QByteArray>{"num score ping name\n", "  0     3   40 Ranger\n",
                                 "  1     0   55 Grunt\n"}
            << int(RconClient::Result::Answered)
            << "num score ping name\n  0     3   40 Ranger\n  1     0   55 Grunt\n";
        QTest::newRow("bad password")
            << QList<QByteArray>{"Bad rcon_password.\n"} << int(RconClient::Result::BadPassword)
            << "Bad rcon_password.\n";
        QTest::newRow("silent") << QList<QByteArray>{} << int(RconClient::Result::NoAnswer)
                                << "No answer from 127.0.0.1";
    }
    void exchange()
    {
        QFETCH(QList<QByteArray>, answers);
        QFETCH(int, result);
        QFETCH(QString, text);
        StandIn server(answers);
        RconClient client(QHostAddress::LocalHost, server.port());
        client.setTimings(400, 150);
        QSignalSpy done(&client, &RconClient::finished);
        QCOMPARE(client.send(QStringLiteral("s3cret"), QStringLiteral("status")), QString());
        QVERIFY(client.busy());
        QVERIFY(done.wait(3000));
        QCOMPARE(done.size(), 1);
        QCOMPARE(server.received,
                 QList<QByteArray>{QByteArray("\xff\xff\xff\xffrcon s3cret status", 22)});
        QCOMPARE(done[0][0].value<RconClient::Result>(), RconClient::Result(result));
        QVERIFY2(done[0][1].toString().startsWith(text), qPrintable(done[0][1].toString()));
        QVERIFY(!client.busy());
        QTest::qWait(200); // no second report
        QCOMPARE(done.size(), 1);
    }

    // A print packet from another port of the same host is not the server's answer.
    void strangerIgnored()
    {
        StandIn server({});
        RconClient client(QHostAddress::LocalHost, server.port());
        client.setTimings(400, 100);
        QSignalSpy done(&client, &RconClient::finished);
        QCOMPARE(client.send(QStringLiteral("pw"), QStringLiteral("status")), QString());
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress::LocalHost, 0));
        // The client's port is not known here; the stand-in saw it.
        QTRY_COMPARE_WITH_TIMEOUT(server.received.size(), 1, 2000);
        stranger.writeDatagram(QByteArray("\xff\xff\xff\xffprint\nforged\n", 17),
                               QHostAddress::LocalHost, server.clientPort);
        QVERIFY(done.wait(3000));
        QCOMPARE(done[0][0].value<RconClient::Result>(), RconClient::Result::NoAnswer);
    }

    // Bytes the server or the game would split a command on are refused with a reason,
    // and nothing is sent.
    void refusals()
    {
        StandIn server({"never\n"});
        RconClient client(QHostAddress::LocalHost, server.port());
        const QList<QPair<QString, QString>> bad = {
            {"pw;quit", "status"},      {"p\"w", "status"},
            {"p w", "status"},          {"pw", "say a\nquit"},
            {"pw", "say \x01"},         {"", "status"},
            {"pw", QString(1001, 'a')}, {"pw", QString::fromUtf8("say \u263a")},
        };
        for (const auto &[password, command] : bad) {
            const QString why = client.send(password, command);
            QVERIFY2(why.contains(QLatin1String("nothing was sent")), qPrintable(why));
        }
        QVERIFY(!client.busy());
        QTest::qWait(100);
        QVERIFY(server.received.isEmpty());
        // A semicolon inside a command is the server's own business (it runs both).
        QCOMPARE(client.send("pw", "say hi; status"), QString());
    }

    // The password reaches the game as separate arguments ahead of the connect; a
    // password the game's console would split is refused and nothing is started.
    void passwordLaunch()
    {
        QTemporaryDir dir;
        const QString game = dir.filePath(QStringLiteral("quake2"));
        QFile f(game);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\x7f"
                "ELF");
        f.close();
        GameLaunch::Launch launch =
            GameLaunch::planWithPassword(game, "127.0.0.1:27911", "Open_Sesame", "");
        QCOMPARE(launch.error, QString());
        QCOMPARE(launch.program, game);
        QCOMPARE(launch.arguments,
                 QStringList({"+set", "password", "Open_Sesame", "+connect", "127.0.0.1:27911"}));
        for (const QString &bad : QStringList{"a;quit", "a\"b", "a\nb", "a\rb", QString("a\x1b"),
                                              "a b", "a+b", "a-b", QString()}) {
            launch = GameLaunch::planWithPassword(game, "127.0.0.1", bad, "");
            QVERIFY2(!launch.error.isEmpty() && launch.program.isEmpty(), qPrintable(bad));
            QVERIFY(launch.arguments.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(RconTest)
#include "tst_rcon.moc"
