// The details window end to end: "More Server Info" on the main window, QStat run
// against a Quake 2 responder on a loopback address (or a stand-in), the display, the
// messages for every way a query can fail, and closing either window mid-query.
#include "DetailsTestSupport.h"
#include "Q2Responder.h"
#include "browser/frmTarvex.h"
#include "details/ListBox.h"
#include "details/frmMoreInfo.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ServerRows.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <optional>
#include <utility>

using namespace tarvex;
using tools::Q2Player;
using tools::Q2Responder;
using tools::Q2ServerConfig;

namespace {

const QByteArray TestInfo =
    "\\hostname\\Test Server\\mapname\\base1\\maxclients\\16\\timelimit\\20\\fraglimit\\30";

// The Quake 2 ports may be held by another program on 127.0.0.1: each server takes an
// address of its own somewhere in 127.0.0.0/8.
QString randomLoopbackAddress()
{
    QRandomGenerator *rng = QRandomGenerator::global();
    return QStringLiteral("127.%1.%2.%3")
        .arg(rng->bounded(64, 250))
        .arg(rng->bounded(1, 255))
        .arg(rng->bounded(1, 255));
}

bool startServer(Q2Responder &responder, Q2ServerConfig config, QString *address,
                 quint16 port = 27910)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        *address = randomLoopbackAddress();
        config.address = QHostAddress(*address);
        config.port = port;
        if (responder.addServer(config))
            return true;
    }
    return false;
}

frmMoreInfo *details(const frmTarvex &w) { return w.findChild<frmMoreInfo *>(); }

// Waits until the details window the last click opened has loaded (shown, or gone after
// its message); true when it did within 30 s.
bool loadEnded(const frmTarvex &w)
{
    const QPointer<frmMoreInfo> d = details(w);
    return QTest::qWaitFor([&d] { return !d || d->state() != frmMoreInfo::State::Loading; }, 30000);
}

void selectServer(frmTarvex &w, const QString &address)
{
    test::setCell(w, 1, frmTarvex::ColAddress, address);
    w.Grid1->setRow(1);
}

QStringList row(const IGrid &grid, int r)
{
    QStringList cells;
    for (int c = 0; c < grid.Cols(); ++c)
        cells << grid.TextMatrix(r, c);
    return cells;
}

QStringList items(const ListBox &list)
{
    QStringList out;
    for (int i = 0; i < list.ListCount(); ++i)
        out << list.List(i);
    return out;
}

} // namespace

class MoreInfoTest : public QObject
{
    Q_OBJECT

private:
    static bool needQuakestat() { return !test::quakestatBinary().isEmpty(); }

private slots:
    void endToEnd()
    {
        if (!needQuakestat())
            QSKIP("quakestat (Debian package qstat) is not installed");
        test::PromptRecorder prompts;
        test::EndRecorder end;
        Q2Responder responder;
        Q2ServerConfig config;
        config.info = TestInfo;
        // A name in the Quake 2 glyphs: high-bit letters and a bracket byte.
        config.players = {{12, 50, "alpha"}, {3, 120, "b\xe5ta\x10 "}};
        QString address;
        // On another port than Quake 2's: a query of 27910 would find nothing there.
        QVERIFY(startServer(responder, config, &address, 27911));

        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        bool visibleDuringQuery = true;
        connect(&responder, &Q2Responder::queried, this, [&] {
            frmMoreInfo *d = details(w);
            visibleDuringQuery = d && d->isVisible();
        });
        selectServer(w, address + ":27911");
        w.cmdMoreInfo_Click();
        // The click returns at once; the window shows when QStat has answered.
        QPointer<frmMoreInfo> d = details(w);
        QVERIFY(d);
        QCOMPARE(d->state(), frmMoreInfo::State::Loading);
        QVERIFY(loadEnded(w));

        QCOMPARE(prompts.messages(), QStringList());
        QVERIFY(d);
        QVERIFY(d->isVisible());
        QVERIFY(!visibleDuringQuery);
        QCOMPARE(responder.queryCount(), 1);
        QCOMPARE(d->windowTitle(), QStringLiteral("Server Info"));
        QCOMPARE(row(*d->Grid1, 0),
                 (QStringList{"Server Address", "Server Name", "Map Name", "Max Players",
                              "# Players", "Ping"}));
        QCOMPARE(row(*d->Grid2, 0), (QStringList{"Player", "Frags", "Ping"}));
        const QStringList summary = row(*d->Grid1, 1);
        QCOMPARE(summary.mid(0, 5),
                 (QStringList{address + ":27911", "Test Server", "base1", "16", "2"}));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+$")).match(summary[5]).hasMatch(),
                 qPrintable(summary[5]));
        // QStat ends its output with an empty line: one more blank row.
        QCOMPARE(d->Grid2->Rows(), 5);
        QCOMPARE(row(*d->Grid2, 1), (QStringList{"alpha", "12", "50"}));
        // Decoded as the server list decodes names.
        QCOMPARE(row(*d->Grid2, 2), (QStringList{"beta[", "3", "120"}));
        QCOMPARE(row(*d->Grid2, 3), QStringList(3));
        QCOMPARE(row(*d->Grid2, 4), QStringList(3));
        QCOMPARE(items(*d->List1), (QStringList{"timelimit=20", "fraglimit=30"}));

        // Closing unloads the window.
        d->close();
        QTRY_VERIFY(!d);

        // The next click loads a fresh window with a new query.
        w.cmdMoreInfo_Click();
        QVERIFY(loadEnded(w));
        QVERIFY(details(w) && details(w)->isVisible());
        QCOMPARE(responder.queryCount(), 2);
        QCOMPARE(end.count(), 0);
    }

    // A click while the window loads leaves its query alone; once shown, a click only
    // brings it to the front, whatever row is selected by then.
    void secondClickBringsTheShownWindowToFront()
    {
        if (!needQuakestat())
            QSKIP("quakestat (Debian package qstat) is not installed");
        test::PromptRecorder prompts;
        Q2Responder responder;
        Q2ServerConfig config;
        config.info = TestInfo;
        QString first;
        QString second;
        QVERIFY(startServer(responder, config, &first));
        QVERIFY(startServer(responder, config, &second));

        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, first);
        w.cmdMoreInfo_Click();
        frmMoreInfo *shown = details(w);
        selectServer(w, second);
        w.cmdMoreInfo_Click();
        QCOMPARE(details(w), shown);
        QVERIFY(loadEnded(w));
        QVERIFY(shown->isVisible());
        w.cmdMoreInfo_Click();
        QCOMPARE(details(w), shown);
        QCOMPARE(w.findChildren<frmMoreInfo *>().size(), 1);
        QCOMPARE(responder.queryCount(), 1);
        QCOMPARE(shown->Grid1->TextMatrix(1, 0), first + ":27910");
        QCOMPARE(prompts.messages(), QStringList());
    }

    void refusedSelections_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("message");
        const QString notHost = QStringLiteral("is not a host name or IP address");
        QTest::newRow("title row") << 0 << "10.0.0.5:27910"
                                   << "select a server";
        QTest::newRow("empty cell") << 1 << ""
                                    << "no server address";
        QTest::newRow("only a port") << 1 << ":27910"
                                     << "no server address";
        QTest::newRow("command after ;") << 1 << "1.2.3.4;touch owned" << notHost;
        QTest::newRow("command substitution") << 1 << "$(touch owned)" << notHost;
        QTest::newRow("option") << 1 << "-Oowned:27910" << notHost;
        QTest::newRow("port out of range") << 1 << "10.0.0.5:65536" << notHost;
        QTest::newRow("port not a number") << 1 << "10.0.0.5:x1" << notHost;
        QTest::newRow("blank") << 1 << "1.2.3.4 -o owned" << notHost;
        QTest::newRow("markup") << 1 << "<b>x</b>" << notHost;
    }
    // Nothing is started: a stand-in QStat would leave a mark.
    void refusedSelections()
    {
        QFETCH(int, row);
        QFETCH(QString, cell);
        QFETCH(QString, message);
        test::QStatStandIn standIn;
        test::PromptRecorder prompts;
        standIn.put("touch ran.txt");
        standIn.putOnPath();
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        test::setCell(w, 1, frmTarvex::ColAddress, cell);
        if (row == 0)
            test::setCell(w, 0, frmTarvex::ColAddress, QStringLiteral("Address"));
        w.Grid1->setRow(row);
        w.cmdMoreInfo_Click();
        QCOMPARE(prompts.messages().size(), 1);
        QVERIFY2(prompts.messages().first().contains(message),
                 qPrintable(prompts.messages().first()));
        QVERIFY(!details(w));
        // Had a query started, the stand-in's mark would be there by now.
        QTest::qWait(300);
        QVERIFY(!standIn.exists(QStringLiteral("ran.txt")));
    }

    // Every failed query ends in one message, promptly, with no window left behind.
    // QStat missing and QStat's deadline are given to the window as the main window
    // gives it the server; the rest go through "More Server Info".
    void failedQueries_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("QStat missing") << "missing"
                                       << "QStat could not be found";
        QTest::newRow("silent server") << "silent"
                                       << "did not answer on port 27910";
        QTest::newRow("nothing listening") << "down"
                                           << "refused the query";
        QTest::newRow("QStat aborts") << "abort"
                                      << "stopped abnormally";
        QTest::newRow("quakestat aborts on a 3000-byte name") << "realcrash"
                                                              << "stopped abnormally";
        QTest::newRow("QStat outlives the time-out") << "hang"
                                                     << "did not finish within 1 second";
        QTest::newRow("no output") << "nooutput"
                                   << "gave no answer";
    }
    void failedQueries()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        const bool usesQuakestat = setup == "silent" || setup == "down" || setup == "realcrash";
        if (usesQuakestat && !needQuakestat())
            QSKIP("quakestat (Debian package qstat) is not installed");
        test::QStatStandIn standIn;
        test::PromptRecorder prompts;
        test::EndRecorder end;
        Q2Responder responder;
        Q2ServerConfig config;
        config.info = TestInfo;
        QString address = QStringLiteral("10.0.0.5");
        std::optional<QStatQuery::Options> options;
        if (setup == "missing") {
            options = standIn.options(); // nothing there
        } else if (setup == "silent") {
            config.mode = Q2ServerConfig::Mode::Silent;
            QVERIFY(startServer(responder, config, &address));
        } else if (setup == "down") {
            address = randomLoopbackAddress();
        } else if (setup == "abort") {
            standIn.put("kill -ABRT $$");
        } else if (setup == "realcrash") {
            // Debian 12's quakestat aborts on such a name in its default output form.
            config.mode = Q2ServerConfig::Mode::LongName;
            QVERIFY(startServer(responder, config, &address));
            standIn.put("exec '" + QFile::encodeName(test::quakestatBinary()) + "' -P -q2s \"$7\"");
        } else if (setup == "hang") {
            standIn.put("echo $$ > qstat.pid; exec sleep 30");
            options = standIn.options(1000);
        } else if (setup == "nooutput") {
            standIn.put("exit 0");
        }
        if (standIn.exists(QStringLiteral("quakestat")))
            standIn.putOnPath();

        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, address);
        QElapsedTimer clock;
        clock.start();
        if (options)
            (new frmMoreInfo(&w, address, QStatQuery::DefaultPort, *options))->Show();
        else
            w.cmdMoreInfo_Click();
        QVERIFY(loadEnded(w));
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(prompts.messages().size(), 1);
        QVERIFY2(prompts.messages().first().contains(message),
                 qPrintable(prompts.messages().first()));
        QTRY_VERIFY(!details(w));
        QCOMPARE(end.count(), 0);
        if (setup == "hang")
            QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning(standIn.pid("qstat.pid")), 3000);
    }

    // A window that failed is only deleted once the event loop gets to it: a click
    // before that must load a fresh window, which then stays.
    void clickRightAfterAFailure()
    {
        test::QStatStandIn standIn;
        test::PromptRecorder prompts;
        standIn.put("exit 0");
        standIn.putOnPath();
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, QStringLiteral("10.0.0.5"));
        w.cmdMoreInfo_Click();
        QPointer<frmMoreInfo> failed = details(w);
        QVERIFY(failed);
        QPointer<frmMoreInfo> fresh;
        connect(failed, &frmMoreInfo::loaded, this, [&](bool shown) {
            QVERIFY(!shown);
            QVERIFY(failed); // still there, awaiting its deletion
            standIn.write(QStringLiteral("answer.txt"),
                          test::testData(QStringLiteral("details/worked-example-crlf.txt")));
            standIn.put("cat answer.txt");
            w.cmdMoreInfo_Click();
            for (frmMoreInfo *d : w.findChildren<frmMoreInfo *>())
                if (d != failed)
                    fresh = d;
        });
        QTRY_VERIFY(fresh);
        QTRY_VERIFY(!failed);
        QTRY_VERIFY(fresh->isVisible());
        QCOMPARE(prompts.messages().size(), 1);
        QCOMPARE(fresh->Grid1->TextMatrix(1, 1), QStringLiteral("Test Server"));
    }

    // In its raw output form quakestat takes the long name, and the window shows it.
    void longPlayerNameIsShown()
    {
        if (!needQuakestat())
            QSKIP("quakestat (Debian package qstat) is not installed");
        test::PromptRecorder prompts;
        Q2Responder responder;
        Q2ServerConfig config;
        config.info = TestInfo;
        config.mode = Q2ServerConfig::Mode::LongName;
        config.longNameBytes = 3000;
        QString address;
        QVERIFY(startServer(responder, config, &address));
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, address);
        w.cmdMoreInfo_Click();
        QVERIFY(loadEnded(w));
        QCOMPARE(prompts.messages(), QStringList());
        QVERIFY(details(w) && details(w)->isVisible());
        QCOMPARE(row(*details(w)->Grid2, 1), (QStringList{QString(3000, u'W'), "0", "999"}));
    }

    // QStat is asked on the row's own port; Quake 2's only when the cell names none.
    void queryGoesToTheRowsPort_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("asked");
        QTest::newRow("port in the cell") << "10.0.0.5:27911"
                                          << "10.0.0.5:27911";
        QTest::newRow("no port") << "10.0.0.5"
                                 << "10.0.0.5:27910";
        QTest::newRow("host name, high port") << "q2.example.net:65535"
                                              << "q2.example.net:65535";
    }
    void queryGoesToTheRowsPort()
    {
        QFETCH(QString, cell);
        QFETCH(QString, asked);
        test::QStatStandIn standIn;
        test::PromptRecorder prompts;
        // The stand-in answers with the address it was asked about as the server's.
        standIn.put("echo \"$7\" > asked.txt; "
                    "printf 'Q2S^^VRAX^^%s^^VRAX^^Name^^VRAX^^map^^VRAX^^8^^VRAX^^0"
                    "^^VRAX^^5^^VRAX^^0\\n\\n' \"$7\"");
        standIn.putOnPath();
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, cell);
        w.cmdMoreInfo_Click();
        QVERIFY(loadEnded(w));
        QCOMPARE(prompts.messages(), QStringList());
        frmMoreInfo *d = details(w);
        QVERIFY(d && d->isVisible());
        QCOMPARE(d->Grid1->TextMatrix(1, 0), asked);
        QCOMPARE(standIn.read(QStringLiteral("asked.txt")), asked.toLatin1() + '\n');
    }

    // The worked example through a stand-in QStat, once with CR LF and once with LF.
    void lineEndsDisplayAlike_data()
    {
        QTest::addColumn<bool>("crlf");
        QTest::newRow("CR LF") << true;
        QTest::newRow("LF") << false;
    }
    void lineEndsDisplayAlike()
    {
        QFETCH(bool, crlf);
        test::QStatStandIn standIn;
        test::PromptRecorder prompts;
        QByteArray answer = test::testData(QStringLiteral("details/worked-example-crlf.txt"));
        QVERIFY(!answer.isEmpty());
        if (!crlf)
            answer.replace("\r\n", "\n");
        standIn.write(QStringLiteral("answer.txt"), answer);
        standIn.put("cat answer.txt");
        standIn.putOnPath();
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, QStringLiteral("10.0.0.5"));
        w.cmdMoreInfo_Click();
        QVERIFY(loadEnded(w));
        QCOMPARE(prompts.messages(), QStringList());
        frmMoreInfo *d = details(w);
        QVERIFY(d && d->isVisible());
        QCOMPARE(row(*d->Grid1, 1),
                 (QStringList{"10.0.0.5:27910", "Test Server", "base1", "16", "2", "45"}));
        QCOMPARE(d->Grid2->Rows(), 4);
        QCOMPARE(row(*d->Grid2, 2), (QStringList{"beta", "3", "120"}));
        QCOMPARE(items(*d->List1), (QStringList{"first rule", "second rule", "third rule"}));
    }

    // Closing the details window, closing the main window (the program's end) or
    // deleting the main window while QStat runs: QStat goes at once with what it
    // started, and nothing more runs (no parse, no window, no message).
    void closingWhileWaiting_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("details window closed") << "details";
        QTest::newRow("main window closed") << "main";
        QTest::newRow("main window deleted") << "deleted";
    }
    void closingWhileWaiting()
    {
        QFETCH(QString, how);
        test::QStatStandIn standIn;
        test::PromptRecorder prompts;
        test::EndRecorder end;
        standIn.put("echo $$ > qstat.pid; sleep 30 & echo $! > child.pid; wait; "
                    "echo 'Q2S^^VRAX^^a^^VRAX^^b^^VRAX^^c^^VRAX^^8^^VRAX^^0^^VRAX^^0^^VRAX^^0'");
        standIn.putOnPath();
        auto *w = new frmTarvex{nullptr, frmTarvex::PingControl::Skip};
        selectServer(*w, QStringLiteral("10.0.0.5"));
        w->cmdMoreInfo_Click();
        QPointer<frmMoreInfo> d = details(*w);
        QVERIFY(d);
        QTRY_VERIFY(standIn.pid(QStringLiteral("child.pid")) > 0);
        const qint64 pids[] = {standIn.pid(QStringLiteral("qstat.pid")),
                               standIn.pid(QStringLiteral("child.pid"))};
        QElapsedTimer clock;
        clock.start();
        if (how == "details")
            d->close();
        else if (how == "main")
            w->close();
        else
            delete std::exchange(w, nullptr);
        for (const qint64 pid : pids)
            QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning(pid), 3000);
        QVERIFY(clock.elapsed() < 3000);
        QTRY_VERIFY(!d);
        QTest::qWait(300);
        QCOMPARE(end.count(), how == "main" ? 1 : 0);
        QCOMPARE(prompts.prompts().size(), 0);
        if (w) {
            QVERIFY(!details(*w));
            if (how == "details") {
                // The next click loads a fresh window with a new query.
                standIn.put("echo 'Q2S^^VRAX^^a^^VRAX^^b^^VRAX^^c^^VRAX^^8^^VRAX^^0'");
                w->cmdMoreInfo_Click();
                QVERIFY(loadEnded(*w));
                QVERIFY(details(*w) && details(*w)->isVisible());
            }
        }
        delete w;
    }
};

QTEST_MAIN(MoreInfoTest)
#include "tst_moreinfo.moc"
