// The details query without windows: QStat's arguments, the run and its report, the
// deadline, cancelling, the program's end, the output as read and QStat's failure lines.
#include "DetailsTestSupport.h"
#include "core/Program.h"
#include "core/details/QStatQuery.h"
#include "support/TestSupport.h"

#include <QTest>
#include <QTimer>
#include <ctime>
#include <memory>

using namespace tarvex;
using Outcome = QStatQuery::RunResult::Outcome;
using Result = QStatQuery::Result;

namespace {

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Starts a query of host:port and waits (at most 20 s) for its report. reports counts
// every finished() of the query until it goes.
struct Run
{
    std::unique_ptr<QStatQuery> query;
    int reports = 0;
    std::optional<Result> result;
};
std::unique_ptr<Run> start(QStatQuery::Options options, const QString &host = "10.0.0.5",
                           int port = 27910)
{
    auto run = std::make_unique<Run>();
    run->query = std::make_unique<QStatQuery>(std::move(options));
    QObject::connect(run->query.get(), &QStatQuery::finished, [r = run.get()](const Result &res) {
        ++r->reports;
        r->result = res;
    });
    run->query->start(host, port, 6, 3);
    return run;
}
std::unique_ptr<Run> query(QStatQuery::Options options, const QString &host = "10.0.0.5",
                           int port = 27910)
{
    auto run = start(std::move(options), host, port);
    (void)QTest::qWaitFor([&run] { return run->result.has_value(); }, 20000);
    return run;
}

} // namespace

class QStatQueryTest : public QObject
{
    Q_OBJECT

private slots:
    // The stand-in records its arguments, one line each; the port is the one asked. The
    // query returns at once and reports later.
    void argumentsReachQStatAsSeparateItems_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("dotted address") << "10.0.0.5" << 27910;
        QTest::newRow("host name, high port") << "q2.example-host.net" << 65535;
    }
    void argumentsReachQStatAsSeparateItems()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        test::QStatStandIn standIn;
        standIn.put("for a in \"$@\"; do echo \"$a\" >> called.txt; done; "
                    "printf 'Q2S^^VRAX^^%s^^VRAX^^Name^^VRAX^^map^^VRAX^^8^^VRAX^^0^^VRAX^^5"
                    "^^VRAX^^0\\nr=1\\n' \"$7\"");
        auto run = start(standIn.options(), host, port);
        QVERIFY(run->query->isRunning());
        QVERIFY(!run->result);
        QTRY_VERIFY_WITH_TIMEOUT(run->result, 20000);
        const QString asked = host + ':' + QString::number(port);
        QCOMPARE(QString::fromLocal8Bit(standIn.read("called.txt")),
                 "-hpn\n-R\n-P\n-raw\n^^VRAX^^\n-q2s\n" + asked + '\n');
        QCOMPARE(int(run->result->kind), int(Result::Kind::Loaded));
        QCOMPARE(run->result->details.summary.value(0), asked);
        QCOMPARE(run->result->details.rules, QStringList{"r=1"});
        QVERIFY(!run->result->incomplete);
        QVERIFY(!run->query->isRunning());
        QTest::qWait(50);
        QCOMPARE(run->reports, 1);
    }

    // Anything QStat could read as more than a host starts nothing and is reported, from
    // the event loop, as refused.
    void hostileHostStartsNothing_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("command after ;") << "1.2.3.4;rm -rf ~" << 27910;
        QTest::newRow("command substitution") << "$(touch owned)" << 27910;
        QTest::newRow("option") << "-Oowned" << 27910;
        QTest::newRow("blank") << "1.2.3.4 -o x" << 27910;
        QTest::newRow("line break") << "1.2.3.4\ntouch owned" << 27910;
        QTest::newRow("empty") << "" << 27910;
        QTest::newRow("non-ASCII letter") << QStringLiteral("h\u00f6st") << 27910;
        QTest::newRow("port 0") << "10.0.0.5" << 0;
        QTest::newRow("port 65536") << "10.0.0.5" << 65536;
    }
    void hostileHostStartsNothing()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        test::QStatStandIn standIn;
        standIn.put("touch ran.txt");
        auto run = start(standIn.options(), host, port);
        QVERIFY(!run->result);
        QTRY_VERIFY(run->result);
        QCOMPARE(int(run->result->kind), int(Result::Kind::Failed));
        QVERIFY(!run->result->run);
        QVERIFY2(run->result->message.contains(port == 27910 ? "not a host name or IP address"
                                                             : "from 1 to 65535"),
                 qPrintable(run->result->message));
        QTest::qWait(100);
        QVERIFY(!standIn.exists("ran.txt"));
        QCOMPARE(run->reports, 1);
    }

    void failedRunsGiveMessages_data()
    {
        QTest::addColumn<QByteArray>("standIn"); // empty: no program at the path
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QByteArray() << int(Outcome::NotFound)
                                 << "QStat could not be found";
        QTest::newRow("not executable")
            << QByteArray("-") << int(Outcome::NotExecutable) << "it is not executable";
        QTest::newRow("cannot start")
            << QByteArray("#!") << int(Outcome::FailedToStart) << "could not be started";
        QTest::newRow("abort") << QByteArray("kill -ABRT $$") << int(Outcome::Crashed)
                               << "stopped abnormally while querying 10.0.0.5 (signal 6)";
        QTest::newRow("segfault") << QByteArray("kill -SEGV $$") << int(Outcome::Crashed)
                                  << "(signal 11)";
        QTest::newRow("no output") << QByteArray("exit 0") << int(Outcome::Finished)
                                   << "QStat gave no answer for 10.0.0.5";
        QTest::newRow("server down")
            << QByteArray("echo 'Q2S^^VRAX^^10.0.0.5:27910^^VRAX^^DOWN'; exit 1")
            << int(Outcome::Finished) << "refused the query";
    }
    void failedRunsGiveMessages()
    {
        QFETCH(QByteArray, standIn);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        test::QStatStandIn fake;
        if (standIn == "-") {
            fake.put("exit 0");
            QFile::setPermissions(fake.program(), QFile::ReadOwner | QFile::WriteOwner);
        } else if (standIn == "#!") {
            // An interpreter that is not there: the program exists but cannot start.
            fake.write("quakestat", "#!/nonexistent/interpreter\n");
            QFile::setPermissions(fake.program(), QFile::ReadOwner | QFile::ExeOwner);
        } else if (!standIn.isEmpty()) {
            fake.put(standIn);
        }
        QElapsedTimer clock;
        clock.start();
        auto run = query(fake.options());
        QVERIFY(run->result);
        QVERIFY(clock.elapsed() < 5000); // at once, not at the deadline
        QCOMPARE(int(run->result->kind), int(Result::Kind::Failed));
        QVERIFY(run->result->run);
        QCOMPARE(int(run->result->run->outcome), outcome);
        QVERIFY2(run->result->message.contains(message), qPrintable(run->result->message));
    }

    // At the deadline the run is killed with everything it started, and reported.
    void deadlineKillsTheWholeRun()
    {
        test::QStatStandIn standIn;
        standIn.put("echo $$ > qstat.pid; sleep 30 & echo $! > child.pid; echo partial; wait");
        auto run = query(standIn.options(800));
        QVERIFY(run->result);
        QCOMPARE(int(run->result->run->outcome), int(Outcome::TimedOut));
        QVERIFY(run->result->run->elapsedMs >= 790 && run->result->run->elapsedMs < 5000);
        QVERIFY2(run->result->message.contains("did not finish within 1 second"),
                 qPrintable(run->result->message));
        for (const char *name : {"qstat.pid", "child.pid"}) {
            const qint64 pid = standIn.pid(name);
            QVERIFY(pid > 0);
            QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning(pid), 3000);
        }
    }

    // Cancelling, destroying the query and the program's end each kill the run (and
    // what it started) at once and report nothing.
    void stoppingMidRunLeavesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("cancel") << "cancel";
        QTest::newRow("destroyed") << "destroyed";
        QTest::newRow("program end") << "end";
    }
    void stoppingMidRunLeavesNothing()
    {
        QFETCH(QString, how);
        test::EndRecorder end;
        test::QStatStandIn standIn;
        standIn.put("echo $$ > qstat.pid; sleep 30 & echo $! > child.pid; wait");
        auto run = start(standIn.options());
        QTRY_VERIFY(standIn.pid("child.pid") > 0);
        const qint64 pids[] = {standIn.pid("qstat.pid"), standIn.pid("child.pid")};
        QCOMPARE(run->query->processId(), pids[0]);
        if (how == "cancel")
            run->query->cancel();
        else if (how == "destroyed")
            run->query.reset();
        else
            Program::end(0);
        if (run->query)
            QVERIFY(!run->query->isRunning());
        for (const qint64 pid : pids)
            QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning(pid), 3000);
        QTest::qWait(200);
        QCOMPARE(run->reports, 0);

        // A cancelled query can run again.
        if (how == "cancel") {
            standIn.put(
                "echo 'Q2S^^VRAX^^a^^VRAX^^b^^VRAX^^c^^VRAX^^8^^VRAX^^0^^VRAX^^0^^VRAX^^0'");
            run->query->start("10.0.0.5", 27910, 6, 3);
            QTRY_COMPARE(run->reports, 1);
            QCOMPARE(int(run->result->kind), int(Result::Kind::Loaded));
        }
    }

    // The query sleeps in the event loop: a second of QStat costs next to no processor.
    void waitingCostsNoProcessor()
    {
        test::QStatStandIn standIn;
        standIn.put("sleep 1; echo 'Q2S^^VRAX^^a^^VRAX^^b^^VRAX^^c^^VRAX^^8^^VRAX^^0'");
        const double before = processCpuSeconds();
        auto run = query(standIn.options());
        const double spent = processCpuSeconds() - before;
        QVERIFY(run->result && run->result->run);
        QCOMPARE(int(run->result->run->outcome), int(Outcome::Finished));
        QVERIFY(run->result->run->elapsedMs >= 900);
        QVERIFY2(spent < 0.2, qPrintable(QString::number(spent)));
    }

    // Names QStat wrote in hexadecimal read as the server list reads them (glyph bytes
    // kept, high bits stripped); a field that is not hexadecimal is left alone.
    void hexFieldsDecoded()
    {
        QStatOutput::Details d;
        d.summary = QStringList{"10.0.0.5:27910", "Name", "6261736531", "8", "2", "5"};
        d.players = {{"c16c70686112", "5", "20"}, {"b\u00e9ta", "1", "9"}, {"abc", "0", "0"}, {}};
        QStatQuery::decodeHexFields(d);
        QCOMPARE(d.summary[2], QStringLiteral("base1"));
        QCOMPARE(d.players[0][0], QStringLiteral("Alpha0"));
        QCOMPARE(d.players[1][0], QStringLiteral("b\u00e9ta"));
        QCOMPARE(d.players[2][0], QStringLiteral("abc")); // odd length
    }

    // The output as it arrives in pieces: the first MiB kept, read as UTF-8 or Latin-1.
    void outputBuffer_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cut");
        QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9") << false;
        QTest::newRow("Latin-1 bytes")
            << QByteArray("caf\xe9 \x80") << QStringLiteral("caf\u00e9 \u0080") << false;
        QTest::newRow("capped at 1 MiB")
            << QByteArray(3 << 19, 'x') << QString(1 << 20, u'x') << true;
        QTest::newRow("exactly 1 MiB")
            << QByteArray(1 << 20, 'x') << QString(1 << 20, u'x') << false;
    }
    void outputBuffer()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(bool, cut);
        QStatQuery::OutputBuffer buffer;
        // In uneven pieces, one of them splitting a character.
        for (qsizetype at = 0, piece = 4; at < bytes.size(); at += piece, piece = piece * 3 + 1)
            buffer.append(bytes.mid(at, piece));
        QCOMPARE(buffer.total(), bytes.size());
        QCOMPARE(buffer.cut(), cut);
        QCOMPARE(buffer.text(), text);
    }

    void cutOutputIsReported_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<bool>("cutAtLimit");
        QTest::addColumn<bool>("incomplete");
        QTest::newRow("whole") << "Q2S^^VRAX^^a\nplayer\n" << false << false;
        QTest::newRow("cut inside a line") << "Q2S^^VRAX^^a\npla" << false << true;
        QTest::newRow("cut at the limit") << "Q2S^^VRAX^^a\npla" << true << false;
    }
    void cutOutputIsReported()
    {
        QFETCH(QString, output);
        QFETCH(bool, cutAtLimit);
        QFETCH(bool, incomplete);
        const auto text = QStatQuery::incompleteOutputMessage(output, cutAtLimit, "10.0.0.5");
        QCOMPARE(text.has_value(), incomplete);
        if (text)
            QVERIFY(text->contains(QLatin1String("incomplete")));
    }

    void serverProblem_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("kind"); // -1: the server answered
        QTest::addColumn<QString>("detail");
        QTest::newRow("down") << "Q2S^^VRAX^^1.2.3.4:27910^^VRAX^^DOWN\n"
                              << int(QStatQuery::ServerProblem::Kind::Down) << "";
        QTest::newRow("timeout CR LF") << "Q2S^^VRAX^^1.2.3.4:27910^^VRAX^^TIMEOUT\r\n\r\n"
                                       << int(QStatQuery::ServerProblem::Kind::Timeout) << "";
        QTest::newRow("error") << "Q2S^^VRAX^^nohost:27910^^VRAX^^ERROR^^VRAX^^host not found\n"
                               << int(QStatQuery::ServerProblem::Kind::Error) << "host not found";
        QTest::newRow("answer") << "Q2S^^VRAX^^1.2.3.4:27910^^VRAX^^TIMEOUT^^VRAX^^base1^^VRAX^^16^"
                                   "^VRAX^^0^^VRAX^^0^^VRAX^^0\n"
                                << -1 << "";
        QTest::newRow("status word on a later line") << "garbage\nQ2S^^VRAX^^a^^VRAX^^DOWN\n"
                                                     << -1 << "";
        QTest::newRow("empty") << "" << -1 << "";
    }
    void serverProblem()
    {
        QFETCH(QString, output);
        QFETCH(int, kind);
        QFETCH(QString, detail);
        const auto problem = QStatQuery::serverProblem(output);
        QCOMPARE(problem.has_value(), kind >= 0);
        if (problem) {
            QCOMPARE(int(problem->kind), kind);
            QCOMPARE(problem->detail, detail);
        }
    }
};

QTEST_GUILESS_MAIN(QStatQueryTest)
#include "tst_qstatquery.moc"
