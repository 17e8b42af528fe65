// The details query without windows: the batch file, the search path, the run and its
// wait, the output file and QStat's failure lines.
#include "DetailsTestSupport.h"
#include "core/details/QStatQuery.h"
#include "support/TestSupport.h"
#include "core/Program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QTest>
#include <ctime>
#include <sys/stat.h>

using namespace tarvex;
using Outcome = QStatQuery::RunResult::Outcome;

namespace {

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

QStatQuery::RunResult run(const test::QueryFolders &folders, int timeoutMs = 15000)
{
    const QString path = QStatQuery::searchPath(QStatQuery::environment(), folders.folder());
    return QStatQuery::runBatch(folders.folder(), path, timeoutMs);
}

} // namespace

class QStatQueryTest : public QObject
{
    Q_OBJECT

private slots:
    void batchFileHoldsOneLfEndedLine_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("dotted address") << "10.0.0.5";
        QTest::newRow("host name") << "q2.example-host.net";
    }
    void batchFileHoldsOneLfEndedLine()
    {
        QFETCH(QString, host);
        test::QueryFolders folders;
        QVERIFY(!QStatQuery::writeBatchFile(folders.folder(), host));
        QCOMPARE(folders.read(QStringLiteral("info.bat")),
                 "qstat -hpn -R -P -raw ^^VRAX^^ -q2s " + host.toLatin1() + ":27910 > tmp.txt\n");
    }

    // Anything a shell or QStat could read as more than a host leaves no script behind
    // and an earlier script unchanged.
    void hostileHostWritesNoScript_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("command after ;") << "1.2.3.4;rm -rf ~";
        QTest::newRow("command substitution") << "$(touch owned)";
        QTest::newRow("backquotes") << "`id`";
        QTest::newRow("option") << "-Otmp.txt";
        QTest::newRow("blank") << "1.2.3.4 -o x";
        QTest::newRow("line break") << "1.2.3.4\ntouch owned";
        QTest::newRow("pipe") << "host|sh";
        QTest::newRow("redirection") << "host>x";
        QTest::newRow("empty") << "";
        QTest::newRow("non-ASCII letter") << QStringLiteral("h\u00f6st");
    }
    void hostileHostWritesNoScript()
    {
        QFETCH(QString, host);
        test::QueryFolders folders;
        QVERIFY(QStatQuery::writeBatchFile(folders.folder(), host).has_value());
        QVERIFY(!folders.exists(QStringLiteral("info.bat")));
        folders.write(QStringLiteral("info.bat"), "earlier\n");
        QVERIFY(QStatQuery::writeBatchFile(folders.folder(), host).has_value());
        QCOMPARE(folders.read(QStringLiteral("info.bat")), QByteArray("earlier\n"));
    }

    // A link planted at info.bat is replaced by the new file; its target is untouched.
    // The cache folder is the one used when the program's folder is not writable.
    void batchFileReplacesAPlantedLink_data()
    {
        QTest::addColumn<bool>("programFolderWritable");
        QTest::newRow("program folder") << true;
        QTest::newRow("cache folder") << false;
    }
    void batchFileReplacesAPlantedLink()
    {
        QFETCH(bool, programFolderWritable);
        test::QueryFolders folders;
        // A file in place of the program's folder makes it unusable even for root.
        const QString program =
            programFolderWritable ? folders.folder() : folders.file(QStringLiteral("plain"));
        if (!programFolderWritable)
            folders.write(QStringLiteral("plain"), "not a folder");
        const QString cache = QFileInfo(folders.toolFolder()).path();
        const QString folder = QStatQuery::firstWritableFolder({program, cache});
        QCOMPARE(folder, programFolderWritable ? program : cache);
        const QString victim = folders.emptyFolder() + "/victim";
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly) && v.write("keep\n") == 5);
        v.close();
        QVERIFY(QFile::link(victim, folder + "/info.bat"));

        QVERIFY(!QStatQuery::writeBatchFile(folder, QStringLiteral("10.0.0.5")));
        QVERIFY(!QFileInfo(folder + "/info.bat").isSymLink());
        QVERIFY(QFileInfo(victim).isFile());
        QVERIFY(v.open(QIODevice::ReadOnly));
        QCOMPARE(v.readAll(), QByteArray("keep\n"));
        QFile batch(folder + "/info.bat");
        QVERIFY(batch.open(QIODevice::ReadOnly));
        QVERIFY(batch.readAll().startsWith("qstat -hpn -R -P -raw"));
        QCOMPARE(QDir(folder).entryList({"info.bat*"}, QDir::AllEntries | QDir::System),
                 QStringList{"info.bat"}); // no temporary file left behind
    }

    void searchPathPutsTheProgramFolderFirst()
    {
        test::QueryFolders folders;
        QStatQuery::Environment env = QStatQuery::environment();
        env.quakestat = QStringLiteral("/bin/true"); // any executable stands in
        env.userPath = QStringLiteral("/opt/a::/opt/b");
        const QString path = QStatQuery::searchPath(env, folders.folder());
        QCOMPARE(path, folders.folder() + ':' + folders.toolFolder() + ":/opt/a:/opt/b");
        QCOMPARE(QFileInfo(folders.toolFolder() + "/qstat").symLinkTarget(),
                 QStringLiteral("/bin/true"));

        // A link to another binary is replaced; without a binary the folder is left out.
        env.quakestat = QStringLiteral("/bin/false");
        QStatQuery::searchPath(env, folders.folder());
        QCOMPARE(QFileInfo(folders.toolFolder() + "/qstat").symLinkTarget(),
                 QStringLiteral("/bin/false"));
        env.quakestat = QString();
        QCOMPARE(QStatQuery::searchPath(env, folders.folder()),
                 folders.folder() + ":/opt/a:/opt/b");
    }

    // The stand-in records how it was called: from the program's folder, with QStat's
    // arguments, its output going to tmp.txt there.
    void runsTheLineInTheProgramFolder()
    {
        test::QueryFolders folders;
        folders.putStandIn("pwd > called.txt; for a in \"$@\"; do echo \"$a\" >> called.txt; done; "
                           "printf 'answer\\n'");
        QVERIFY(!QStatQuery::writeBatchFile(folders.folder(), QStringLiteral("10.0.0.5")));
        const QStatQuery::RunResult result = run(folders);
        QCOMPARE(result.outcome, Outcome::Finished);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(QString::fromLocal8Bit(folders.read(QStringLiteral("called.txt"))),
                 QFileInfo(folders.folder()).canonicalFilePath()
                     + "\n-hpn\n-R\n-P\n-raw\n^^VRAX^^\n-q2s\n10.0.0.5:27910\n");
        QCOMPARE(QStatQuery::readOutput(folders.folder()), QStringLiteral("answer\n"));
        QVERIFY(!QStatQuery::runFailureMessage(result, "10.0.0.5", folders.folder()));
    }

    void failedRunsGiveMessages_data()
    {
        QTest::addColumn<QByteArray>("standIn"); // empty: no QStat at all
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QByteArray() << int(Outcome::Finished)
                                 << "QStat could not be found";
        QTest::newRow("abort") << QByteArray("kill -ABRT $$") << int(Outcome::Crashed)
                               << "stopped abnormally while querying 10.0.0.5 (signal 6)";
        QTest::newRow("segfault") << QByteArray("kill -SEGV $$") << int(Outcome::Crashed)
                                  << "(signal 11)";
    }
    void failedRunsGiveMessages()
    {
        QFETCH(QByteArray, standIn);
        QFETCH(int, outcome);
        QFETCH(QString, message);
        test::QueryFolders folders;
        if (standIn.isEmpty())
            folders.hideQStat();
        else
            folders.putStandIn(standIn);
        QVERIFY(!QStatQuery::writeBatchFile(folders.folder(), QStringLiteral("10.0.0.5")));
        const QStatQuery::RunResult result = run(folders);
        QCOMPARE(int(result.outcome), outcome);
        const auto text = QStatQuery::runFailureMessage(result, "10.0.0.5", folders.folder());
        QVERIFY(text.has_value());
        QVERIFY2(text->contains(message), qPrintable(*text));
    }

    // A run that outlives the time-out is killed with everything it started.
    void timeOutKillsTheWholeRun()
    {
        test::QueryFolders folders;
        folders.putStandIn("echo $$ > qstat.pid; echo partial; exec sleep 30");
        QVERIFY(!QStatQuery::writeBatchFile(folders.folder(), QStringLiteral("10.0.0.5")));
        const QStatQuery::RunResult result = run(folders, 800);
        QCOMPARE(result.outcome, Outcome::TimedOut);
        QVERIFY(result.elapsedMs < 5000);
        const qint64 pid = folders.read(QStringLiteral("qstat.pid")).trimmed().toLongLong();
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning(pid), 3000);
        QVERIFY(!folders.exists(QStringLiteral("tmp.txt"))); // deleted as the run stopped
        const auto text = QStatQuery::runFailureMessage(result, "10.0.0.5", folders.folder());
        QVERIFY(text && text->contains(QLatin1String("did not finish within 1 second")));
    }

    void programEndStopsTheWait()
    {
        test::EndRecorder end;
        test::QueryFolders folders;
        folders.putStandIn("echo $$ > qstat.pid; echo partial; exec sleep 30");
        QVERIFY(!QStatQuery::writeBatchFile(folders.folder(), QStringLiteral("10.0.0.5")));
        QTimer::singleShot(300, [] { Program::end(0); });
        const QStatQuery::RunResult result = run(folders);
        QCOMPARE(result.outcome, Outcome::ProgramEnded);
        QVERIFY(result.elapsedMs < 3000);
        const qint64 pid = folders.read(QStringLiteral("qstat.pid")).trimmed().toLongLong();
        QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning(pid), 3000);
        QVERIFY(!folders.exists(QStringLiteral("tmp.txt")));
        QVERIFY(!QStatQuery::runFailureMessage(result, "10.0.0.5", folders.folder()));
    }

    // The shell cannot even start there: reported at once, not after the time-out.
    void startFailureIsReportedAtOnce()
    {
        test::QueryFolders folders;
        const QString gone = folders.folder() + "/no-such-folder";
        const QStatQuery::RunResult result =
            QStatQuery::runBatch(gone, QStringLiteral("/usr/bin"), 10000);
        QCOMPARE(result.outcome, Outcome::FailedToStart);
        QVERIFY(result.elapsedMs < 3000);
        QVERIFY(!result.error.isEmpty());
    }

    // The wait sleeps in the event loop: a second of QStat costs next to no processor.
    void waitingCostsNoProcessor()
    {
        test::QueryFolders folders;
        folders.putStandIn("sleep 1; echo done");
        QVERIFY(!QStatQuery::writeBatchFile(folders.folder(), QStringLiteral("10.0.0.5")));
        const double before = processCpuSeconds();
        const QStatQuery::RunResult result = run(folders);
        const double spent = processCpuSeconds() - before;
        QCOMPARE(result.outcome, Outcome::Finished);
        QVERIFY(result.elapsedMs >= 900);
        QVERIFY2(spent < 0.2, qPrintable(QString::number(spent)));
    }

    // Names QStat wrote in hexadecimal read as the server list reads them (glyph bytes
    // kept, high bits stripped); a field that is not hexadecimal is left alone.
    void hexFieldsDecoded()
    {
        Module2::Details d;
        d.summary = QStringList{"10.0.0.5:27910", "Name", "6261736531", "8", "2", "5"};
        d.players = {{"c16c70686112", "5", "20"}, {"b\u00e9ta", "1", "9"}, {"abc", "0", "0"}, {}};
        QStatQuery::decodeHexFields(d);
        QCOMPARE(d.summary[2], QStringLiteral("base1"));
        QCOMPARE(d.players[0][0], QStringLiteral("Alpha0"));
        QCOMPARE(d.players[1][0], QStringLiteral("b\u00e9ta"));
        QCOMPARE(d.players[2][0], QStringLiteral("abc")); // odd length
    }

    void readOutput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9");
        QTest::newRow("Latin-1 bytes")
            << QByteArray("caf\xe9 \x80") << QStringLiteral("caf\u00e9 \u0080");
        QTest::newRow("capped at 1 MiB") << QByteArray(3 << 19, 'x') << QString(1 << 20, u'x');
    }
    void readOutput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        test::QueryFolders folders;
        QVERIFY(!QStatQuery::readOutput(folders.folder()));
        folders.write(QStringLiteral("tmp.txt"), bytes);
        QCOMPARE(QStatQuery::readOutput(folders.folder()), text);
    }

    // What is in the way of the output is named, never passed off as "no answer";
    // a FIFO there is refused without blocking.
    void unreadableOutputIsNamed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << ""
                                 << "QStat gave no answer for 10.0.0.5";
        QTest::newRow("folder") << "dir"
                                << "tmp.txt is a folder, not a file";
        QTest::newRow("FIFO") << "fifo"
                              << "tmp.txt is not a regular file";
        QTest::newRow("dangling link") << "link"
                                       << "symbolic link to a missing file";
    }
    void unreadableOutputIsNamed()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        test::QueryFolders folders;
        const QString path = folders.file(QStringLiteral("tmp.txt"));
        if (kind == "dir")
            QVERIFY(QDir().mkdir(path));
        else if (kind == "fifo")
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else if (kind == "link")
            QVERIFY(QFile::link(folders.file("gone"), path));
        QVERIFY(!QStatQuery::readOutput(folders.folder()));
        const QString text = QStatQuery::unreadableOutputMessage(folders.folder(), "10.0.0.5");
        QVERIFY2(text.contains(message), qPrintable(text));
    }

    void cutOutputIsReported_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("incomplete");
        QTest::newRow("whole") << QByteArray("Q2S^^VRAX^^a\nplayer\n") << false;
        QTest::newRow("cut inside a line") << QByteArray("Q2S^^VRAX^^a\npla") << true;
    }
    void cutOutputIsReported()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, incomplete);
        test::QueryFolders folders;
        folders.write(QStringLiteral("tmp.txt"), bytes);
        const auto output = QStatQuery::readOutput(folders.folder());
        QVERIFY(output);
        const auto text =
            QStatQuery::incompleteOutputMessage(folders.folder(), *output, "10.0.0.5");
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

    void firstWritableFolderSkipsWhatCannotBeWritten()
    {
        test::QueryFolders folders;
        QCOMPARE(QStatQuery::firstWritableFolder(
                     {QString(), QStringLiteral("/dev/null/sub"), folders.folder()}),
                 folders.folder());
        QCOMPARE(QStatQuery::firstWritableFolder({QStringLiteral("/dev/null/sub")}), QString());
    }
};

QTEST_GUILESS_MAIN(QStatQueryTest)
#include "tst_qstatquery.moc"
