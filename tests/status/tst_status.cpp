// The status reply parser on real reply shapes, the name decoding, the ICMP error-queue
// reader, and the status engine against loopback responders: answers, silent and closed
// ports in any order, a cancel, the time of an answer, and a pace that follows the line.
#include "core/status/StatusEngine.h"
#include "core/status/StatusReply.h"
#include "Q2Responder.h"
#include "core/Program.h"
#include "core/net/IcmpErrors.h"
#include "support/TestSupport.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

#include <arpa/inet.h>
#include <cerrno>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QUdpSocket>

using namespace tarvex;
using namespace tarvex::status;

Q_DECLARE_METATYPE(tarvex::status::ServerStatus)

class TestStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<ServerStatus>();
        qRegisterMetaType<StatusEngine::Outcome>();
    }
    void reply_data();
    void reply();
    void realServerAnswer();
    void decode();
    void engine();
    void cancelStopsAtOnce();
    void answerOnlyForAnAskedServer();
    void closedPortsMarkOnlyThemselves_data();
    void closedPortsMarkOnlyThemselves();
    void errorQueueNamesTheDestination();
    void timeIsFromTheAnsweredAttempt();
    void pacingFollowsTheLine();
};

namespace {

// A loopback port nobody listens on: bound, read back and closed again.
quint16 closedPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return 0;
    return probe.localPort();
}

// Servers on 127.0.0.1 that answer every query but those drop() refuses (it is told the
// server and how many queries that server has had, this one included).
class LossyServers
{
public:
    LossyServers(int count, std::function<bool(int server, int query)> drop, int delayMs = 0)
        : m_drop(std::move(drop))
    {
        for (int i = 0; i < count; ++i) {
            auto *socket = new QUdpSocket(&m_owner);
            if (!socket->bind(QHostAddress::LocalHost, 0))
                continue;
            targets.append({0x7f000001, socket->localPort()});
            QObject::connect(socket, &QUdpSocket::readyRead, socket, [this, socket, i, delayMs] {
                while (socket->hasPendingDatagrams()) {
                    const QNetworkDatagram q = socket->receiveDatagram();
                    if (m_drop(i, ++m_queries[i]))
                        continue;
                    const auto answer = [socket, q] {
                        socket->writeDatagram(QByteArrayLiteral("\xff\xff\xff\xffprint\n"
                                                                "\\hostname\\L\\maxclients\\8\n"),
                                              q.senderAddress(), quint16(q.senderPort()));
                    };
                    if (delayMs > 0)
                        QTimer::singleShot(delayMs, Qt::PreciseTimer, socket, answer);
                    else
                        answer();
                }
            });
        }
    }
    QList<sources::ServerAddress> targets;

private:
    QObject m_owner;
    std::function<bool(int, int)> m_drop;
    QHash<int, int> m_queries;
};

} // namespace

// The shared error-queue reader gives each queued ICMP error with the address and port
// the datagram went to, and its type and code.
void TestStatus::errorQueueNamesTheDestination()
{
    const quint16 closed[] = {closedPort(), closedPort()};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    const int on = 1;
    QCOMPARE(::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
    // Each error is read before the next send: a queued one fails that send once.
    QList<net::QueuedError> errors;
    for (const quint16 port : closed) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(port);
        QVERIFY(::sendto(fd, "x", 1, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 1);
        const qsizetype wanted = errors.size() + 1;
        for (int round = 0; round < 50 && errors.size() < wanted; ++round) {
            net::readQueuedErrors(fd, 8, [&](const net::QueuedError &e) { errors.append(e); });
            QTest::qWait(10);
        }
    }
    ::close(fd);
    QCOMPARE(errors.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(errors[i].destination, htonl(INADDR_LOOPBACK));
        QCOMPARE(ntohs(errors[i].port), closed[i]);
        QCOMPARE(errors[i].origin, quint8(SO_EE_ORIGIN_ICMP));
        QCOMPARE(errors[i].type, quint8(3));
        QCOMPARE(errors[i].code, quint8(3)); // port unreachable
        QCOMPARE(int(errors[i].error), ECONNREFUSED);
    }
}

// The time given with an answer runs from the send of the query it answered: a server
// whose first query was lost is timed from the resend, not from the first send.
void TestStatus::timeIsFromTheAnsweredAttempt()
{
    LossyServers firstLost(3, [](int, int query) { return query == 1; });
    LossyServers slow(
        2, [](int, int) { return false; }, 150);
    StatusEngine engine;
    StatusEngine::Options exact;
    exact.adaptive = false; // time-outs exactly as given
    exact.timeoutsMs = {400, 400, 400};
    engine.setOptions(exact);
    QSignalSpy answered(&engine, &StatusEngine::answered);
    QSignalSpy finished(&engine, &StatusEngine::finished);
    QVERIFY(engine.start(firstLost.targets + slow.targets));
    QVERIFY(finished.wait(10000));
    QCOMPARE(answered.size(), 5);
    for (const auto &a : answered) {
        const int index = a.at(0).toInt();
        const int elapsed = a.at(2).toInt();
        if (index < 3) {
            QCOMPARE(engine.attempts(index), 2);
            QVERIFY2(elapsed < 400, qPrintable(QString::number(elapsed))); // not from the first
        } else {
            QCOMPARE(engine.attempts(index), 1);
            QVERIFY2(elapsed >= 140, qPrintable(QString::number(elapsed)));
        }
    }
}

// The pace rises while every server answers its first query, and is cut when servers
// answer only their resends (the line dropped the first); every server is answered
// either way.
void TestStatus::pacingFollowsTheLine()
{
    constexpr int Count = 120;
    StatusEngine::Options options;
    options.burst = 1;
    options.startRate = 200; // still sending when the first resends are answered
    {
        LossyServers clean(Count, [](int, int) { return false; });
        StatusEngine engine;
        options.timeoutsMs = {2000, 2000, 2000};
        engine.setOptions(options);
        QSignalSpy answered(&engine, &StatusEngine::answered);
        QSignalSpy finished(&engine, &StatusEngine::finished);
        QVERIFY(engine.start(clean.targets));
        QVERIFY(finished.wait(20000));
        QCOMPARE(answered.size(), Count);
        QCOMPARE(engine.pacing().laterAnswers, 0);
        QCOMPARE(engine.pacing().lossSignals, 0);
        QVERIFY(engine.pacing().highestRate > options.startRate);
    }
    {
        // Two servers in five lose their first query.
        LossyServers lossy(Count,
                           [](int server, int query) { return query == 1 && server % 5 < 2; });
        StatusEngine engine;
        options.timeoutsMs = {300, 300, 300};
        engine.setOptions(options);
        QSignalSpy answered(&engine, &StatusEngine::answered);
        QSignalSpy finished(&engine, &StatusEngine::finished);
        QVERIFY(engine.start(lossy.targets));
        QVERIFY(finished.wait(20000));
        QCOMPARE(answered.size(), Count);
        const StatusEngine::Pacing &p = engine.pacing();
        QVERIFY(p.laterAnswers >= Count * 2 / 5);
        QVERIFY(p.lossSignals >= 1);
        QVERIFY(p.slowdowns >= p.lossSignals);
        QVERIFY2(p.lowestRate > 0 && p.lowestRate < p.highestRate,
                 qPrintable(QStringLiteral("%1 %2").arg(p.lowestRate).arg(p.highestRate)));
    }
}

// Answering servers and closed ports (ICMP port unreachable) interleaved in several
// orders: each error marks its own server down and nothing else, and every answer is
// read whatever errors were queued before it.
void TestStatus::closedPortsMarkOnlyThemselves_data()
{
    QTest::addColumn<QString>("layout"); // one letter a target: a answers, c is closed
    QTest::newRow("closed first") << "ccaaaaaa";
    QTest::newRow("alternating") << "cacacacacaca";
    QTest::newRow("closed last") << "aaaaaacc";
    QTest::newRow("runs") << "aaacccaaacccaaa";
    QTest::newRow("one answers among many closed") << "cccccccacccccccc";
}

void TestStatus::closedPortsMarkOnlyThemselves()
{
    QFETCH(QString, layout);
    tools::Q2Responder responder;
    QList<sources::ServerAddress> targets;
    for (const QChar kind : layout) {
        if (kind == QLatin1Char('a')) {
            tools::Q2ServerConfig server;
            server.port = 0;
            server.info = "\\hostname\\Open\\maxclients\\8";
            QVERIFY(responder.addServer(server));
            targets.append(*sources::parseAddressText(responder.endpoints().last()));
        } else {
            const quint16 port = closedPort();
            QVERIFY(port != 0);
            targets.append({0x7f000001, port});
        }
    }
    StatusEngine engine;
    StatusEngine::Options quick;
    quick.timeoutsMs = {1500, 1500, 1500};
    engine.setOptions(quick);
    QSignalSpy answered(&engine, &StatusEngine::answered);
    QSignalSpy failed(&engine, &StatusEngine::failed);
    QSignalSpy finished(&engine, &StatusEngine::finished);
    QVERIFY(engine.start(targets));
    QVERIFY(finished.wait(20000));
    QString seen(layout.size(), QLatin1Char('?'));
    for (const auto &a : answered)
        seen[a.at(0).toInt()] = QLatin1Char('a');
    for (const auto &f : failed)
        seen[f.at(0).toInt()] =
            f.at(1).value<StatusEngine::Outcome>() == StatusEngine::Outcome::Down
            ? QLatin1Char('c')
            : QLatin1Char('-');
    QCOMPARE(seen, layout);
}

// One host listed at two ports; the server on the first answers from the second port
// (as a server with two sockets may). That answer arrives while the second port is
// not asked yet: it must not complete it, the count must never pass the total, and the
// refresh must end by itself with each port reported once.
void TestStatus::answerOnlyForAnAskedServer()
{
    QUdpSocket first, second;
    QVERIFY(first.bind(QHostAddress::LocalHost, 0));
    QVERIFY(second.bind(QHostAddress::LocalHost, 0));
    const QByteArray reply = QByteArrayLiteral("\xff\xff\xff\xff"
                                               "print\n\\hostname\\Two\\maxclients\\8\n");
    QObject::connect(&first, &QUdpSocket::readyRead, [&] {
        while (first.hasPendingDatagrams()) {
            const QNetworkDatagram q = first.receiveDatagram();
            second.writeDatagram(reply, q.senderAddress(), quint16(q.senderPort()));
        }
    });
    int secondAsked = 0;
    QObject::connect(&second, &QUdpSocket::readyRead, [&] {
        while (second.hasPendingDatagrams()) {
            const QNetworkDatagram q = second.receiveDatagram();
            ++secondAsked;
            second.writeDatagram(reply, q.senderAddress(), quint16(q.senderPort()));
        }
    });
    StatusEngine engine;
    StatusEngine::Options slow;
    slow.startRate = 1000.0 / 150; // the second port is asked well after the stray answer
    slow.burst = 1;
    slow.adaptive = false;
    slow.maxOutstanding = 1;
    slow.timeoutsMs = {300};
    engine.setOptions(slow);
    QSignalSpy answered(&engine, &StatusEngine::answered);
    QSignalSpy failed(&engine, &StatusEngine::failed);
    QSignalSpy finished(&engine, &StatusEngine::finished);
    int mostDone = 0;
    QObject::connect(&engine, &StatusEngine::progress,
                     [&](int done, int) { mostDone = std::max(mostDone, done); });
    const sources::ServerAddress a{0x7f000001, first.localPort()},
        b{0x7f000001, second.localPort()};
    int askedWhenAnswered = -1;
    QObject::connect(&engine, &StatusEngine::answered,
                     [&](int, const ServerStatus &, int) { askedWhenAnswered = secondAsked; });
    QVERIFY(engine.start({a, b}));
    QVERIFY(finished.wait(5000));
    QTest::qWait(200);
    QCOMPARE(finished.size(), 1);
    QVERIFY2(mostDone <= 2, qPrintable(QString::number(mostDone)));
    QCOMPARE(answered.size(), 1);
    QCOMPARE(answered.first().first().toInt(), 1); // the second port, asked itself
    QCOMPARE(secondAsked, 1);
    QCOMPARE(askedWhenAnswered, 1); // answered only once asked
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().first().toInt(), 0); // the first never answered from its own
}

void TestStatus::reply_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("hostname");
    QTest::addColumn<QString>("players");
    QTest::addColumn<bool>("truncated");
    const QByteArray head("\xff\xff\xff\xffprint\n", 10);
    const QByteArray info("\\hostname\\Alpha\\mapname\\q2dm1\\maxclients\\8\n");
    QByteArray forty = head + "\\hostname\\Big\\maxclients\\64\n";
    for (int i = 0; i < 40; ++i)
        forty += QByteArray::number(i) + " 50 \"p" + QByteArray::number(i) + "\"\n";
    QTest::newRow("no players") << head + info << true << "Alpha"
                                << "0/8" << false;
    QTest::newRow("40 players") << forty << true << "Big"
                                << "40/64" << false;
    QTest::newRow("cut inside a player line")
        << head + info + "3 40 \"One\"\n5 60 \"Tw" << true << "Alpha"
        << "2/8" << true;
    QTest::newRow("cut inside the info string") << head + "\\hostname\\Alp" << true << "Alp"
                                                << "" << true;
    QTest::newRow("only a newline") << head + "\n"
                                    << true << ""
                                    << "" << false;
    QTest::newRow("stray line first, own count")
        << head + "hello\n\\hostname\\A\\maxclients\\16\\clients\\20\n1 2 \"x\"\n"
        << true << "A"
        << "20/16" << false;
    QTest::newRow("not a status answer")
        << QByteArray("\xff\xff\xff\xffinfo\nA q2dm1 1/8\n") << false << ""
        << "" << false;
}

void TestStatus::reply()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, valid);
    const auto status = parseStatusReply(datagram);
    QCOMPARE(status.has_value(), valid);
    if (!valid)
        return;
    QTEST(status->value("hostname"), "hostname");
    QTEST(status->playersText(), "players");
    QTEST(status->truncated, "truncated");
}

// The shape a real dedicated server sends: the info string sorted by key with "version"
// last, needpass always present, negative frags, names holding quotes, markup, runs of
// blanks and the bracket and digit glyph bytes.
void TestStatus::realServerAnswer()
{
    const QByteArray answer("\xff\xff\xff\xffprint\n"
                            "\\deathmatch\\1\\dmflags\\16\\fraglimit\\0\\gamename\\baseq2"
                            "\\hostname\\Yamagi Test\\mapname\\q2dm1\\maxclients\\16"
                            "\\needpass\\1\\timelimit\\0"
                            "\\version\\8.71pre x86_64 Dec  9 2026 Linux\n"
                            "-3 48 \"a \"q\" <b>&amp;  c\"\n"
                            "12 31 \"\x10"
                            "Clan"
                            "\x11"
                            "\x12\x13\"\n");
    const auto status = parseStatusReply(answer);
    QVERIFY(status);
    QVERIFY(!status->truncated);
    QCOMPARE(status->info.size(), 10);
    QCOMPARE(status->info.last().first, QByteArray("version"));
    QCOMPARE(status->value("version"), QStringLiteral("8.71pre x86_64 Dec  9 2026 Linux"));
    QCOMPARE(status->value("needpass"), QStringLiteral("1"));
    QCOMPARE(status->playersText(), QStringLiteral("2/16"));
    QCOMPARE(status->players.size(), 2);
    QCOMPARE(status->players[0].frags, -3);
    QCOMPARE(status->players[0].ping, 48);
    QCOMPARE(status->players[0].name, QStringLiteral("a \"q\" <b>&amp;  c"));
    QCOMPARE(status->players[1].name, QStringLiteral("[Clan]01"));
}

void TestStatus::decode()
{
    // Green letters, bold brackets, the digit glyphs, control bytes, and the high bit on
    // all of them.
    QCOMPARE(decodeName("\xc7\xf2\xe5\xe5\xee Team"), QStringLiteral("Green Team"));
    QCOMPARE(decodeName("\x10"
                        "Clan"
                        "\x11"
                        "\x12\x1b"),
             QStringLiteral("[Clan]09"));
    QCOMPARE(decodeName("a\x01\x0a\x7f"
                        "b\x90\x9b"),
             QStringLiteral("a...b[9"));
    QCOMPARE(decodeName(QByteArray("x\0y", 3)), QStringLiteral("x.y"));
    const auto status = parseStatusReply(
        QByteArray("\xff\xff\xff\xffprint\n\\hostname\\\xd2\xe5\xe4\n0 0 \"\x90\xc2\x91\"\n"));
    QCOMPARE(status->value("hostname"), QStringLiteral("Red"));
    QCOMPARE(status->players.value(0).name, QStringLiteral("[B]"));
}

void TestStatus::engine()
{
    // 30 servers, 30 % silent, and 5 addresses with no server at all (port unreachable).
    tools::Q2Responder responder;
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
    const quint16 port = probe.localPort();
    probe.close();
    const QList<tools::Q2ServerConfig> farm = tools::loopbackFarm(35, 30, port);
    QVERIFY(responder.addServers(farm.mid(0, 30)));
    QList<sources::ServerAddress> targets;
    for (const auto &s : farm)
        targets.append({s.address.toIPv4Address(), s.port});
    targets.append(targets[1]); // asked once, reported twice

    StatusEngine engine;
    StatusEngine::Options fast;
    fast.timeoutsMs = {150, 200, 250};
    engine.setOptions(fast);
    QSignalSpy answered(&engine, &StatusEngine::answered);
    QSignalSpy failed(&engine, &StatusEngine::failed);
    QSignalSpy finished(&engine, &StatusEngine::finished);
    QVERIFY(engine.start(targets));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().at(0).toBool(), false);
    QCOMPARE(answered.size(), 21 + 1);
    int down = 0, silent = 0;
    for (const auto &f : failed) {
        const auto outcome = f.at(1).value<StatusEngine::Outcome>();
        down += outcome == StatusEngine::Outcome::Down;
        silent += outcome == StatusEngine::Outcome::NoAnswer;
        QVERIFY(f.at(0).toInt() >= 30
                || farm[f.at(0).toInt()].mode == tools::Q2ServerConfig::Mode::Silent);
    }
    QCOMPARE(down, 5);
    QCOMPARE(silent, 9);
    // Silent servers were asked three times, the others once.
    QCOMPARE(responder.queryCount(), 21 + 9 * 3);
    const ServerStatus first = answered.first().at(1).value<ServerStatus>();
    QVERIFY(first.value("hostname").startsWith(QLatin1String("Loopback Server")));
}

void TestStatus::cancelStopsAtOnce()
{
    tools::Q2Responder responder;
    auto farm = tools::loopbackFarm(20, 100, 0);
    QVERIFY(responder.addServers(farm));
    QList<sources::ServerAddress> targets;
    for (const QString &e : responder.endpoints())
        targets.append(*sources::parseAddressText(e));
    StatusEngine engine;
    StatusEngine::Options paced; // slow enough that a cancel comes before the last send
    paced.burst = 1;
    paced.startRate = 100;
    paced.adaptive = false;
    engine.setOptions(paced);
    QSignalSpy finished(&engine, &StatusEngine::finished);
    QSignalSpy failed(&engine, &StatusEngine::failed);
    QVERIFY(engine.start(targets));
    QTRY_VERIFY(responder.queryCount() >= 3);
    engine.cancel();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toBool(), true);
    const int sent = responder.queryCount();
    QVERIFY(!engine.isRunning());
    QVERIFY(sent < 20);
    QCOMPARE(failed.size(), 0);

    // The program's end, from wherever it comes, ends a refresh too.
    test::EndRecorder end;
    QVERIFY(engine.start(targets));
    Program::end(0);
    QVERIFY(!engine.isRunning());
    QCOMPARE(finished.size(), 2);
    QVERIFY(!engine.start(targets));
}

QTEST_GUILESS_MAIN(TestStatus)
#include "tst_status.moc"
