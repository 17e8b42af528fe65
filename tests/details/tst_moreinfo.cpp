// The details window end to end: "More Server Info" on the main window, QStat run
// through info.bat against a Quake 2 responder on a loopback address, the display,
// the messages for every way a query can fail, and the close.
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
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

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
        test::QueryFolders folders;
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
        folders.write(QStringLiteral("tmp.txt"), "stale answer of an earlier query\n");
        selectServer(w, address + ":27911");
        w.cmdMoreInfo_Click();

        QCOMPARE(prompts.messages(), QStringList());
        QPointer<frmMoreInfo> d = details(w);
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
        QCOMPARE(folders.read(QStringLiteral("info.bat")),
                 "qstat -hpn -R -P -raw ^^VRAX^^ -q2s " + address.toLatin1()
                     + ":27911 > tmp.txt\n");
        QVERIFY(folders.exists(QStringLiteral("tmp.txt")));

        // Closing unloads the window and deletes the answer; the script stays.
        d->close();
        QTRY_VERIFY(!d);
        QVERIFY(!folders.exists(QStringLiteral("tmp.txt")));
        QVERIFY(folders.exists(QStringLiteral("info.bat")));

        // The next click loads a fresh window with a new query.
        w.cmdMoreInfo_Click();
        QVERIFY(details(w) && details(w)->isVisible());
        QCOMPARE(responder.queryCount(), 2);
        QCOMPARE(end.count(), 0);
    }

    void secondClickBringsTheShownWindowToFront()
    {
        if (!needQuakestat())
            QSKIP("quakestat (Debian package qstat) is not installed");
        test::QueryFolders folders;
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
        QVERIFY(shown && shown->isVisible());
        selectServer(w, second);
        w.cmdMoreInfo_Click();
        QCOMPARE(details(w), shown);
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
    // Nothing is written or started: a stand-in QStat would leave a mark.
    void refusedSelections()
    {
        QFETCH(int, row);
        QFETCH(QString, cell);
        QFETCH(QString, message);
        test::QueryFolders folders;
        test::PromptRecorder prompts;
        folders.putStandIn("touch ran.txt");
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
        QVERIFY(!folders.exists(QStringLiteral("info.bat")));
        // A query runs QStat to its end before the click returns: had one started, its
        // mark would be there by now.
        QVERIFY(!folders.exists(QStringLiteral("ran.txt")));
    }

    // Every failed query ends in one message, promptly, with no window left behind and
    // no answer file kept.
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
        QTest::newRow("no output, stale file") << "nooutput"
                                               << "gave no answer";
    }
    void failedQueries()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        const bool usesQuakestat = setup == "silent" || setup == "down" || setup == "realcrash";
        if (usesQuakestat && !needQuakestat())
            QSKIP("quakestat (Debian package qstat) is not installed");
        test::QueryFolders folders;
        test::PromptRecorder prompts;
        test::EndRecorder end;
        Q2Responder responder;
        Q2ServerConfig config;
        config.info = TestInfo;
        QString address = QStringLiteral("10.0.0.5");
        if (setup == "missing") {
            folders.hideQStat();
        } else if (setup == "silent") {
            config.mode = Q2ServerConfig::Mode::Silent;
            QVERIFY(startServer(responder, config, &address));
        } else if (setup == "down") {
            address = randomLoopbackAddress();
        } else if (setup == "abort") {
            folders.putStandIn("kill -ABRT $$");
        } else if (setup == "realcrash") {
            // Debian 12's quakestat aborts on such a name in its default output form.
            config.mode = Q2ServerConfig::Mode::LongName;
            QVERIFY(startServer(responder, config, &address));
            folders.putStandIn("exec quakestat -P -q2s \"$7\"");
        } else if (setup == "hang") {
            QStatQuery::environment().timeoutMs = 1000;
            folders.putStandIn("exec sleep 30");
        } else if (setup == "nooutput") {
            folders.write(QStringLiteral("tmp.txt"),
                          "Q2S^^VRAX^^10.0.0.5:27910^^VRAX^^Stale^^VRAX^^q2dm1^^VRAX^^8^^VRAX^^0^^"
                          "VRAX^^1^^VRAX^^0\n");
            folders.putStandIn("exit 0");
        }

        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, address);
        QElapsedTimer clock;
        clock.start();
        w.cmdMoreInfo_Click();
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(prompts.messages().size(), 1);
        QVERIFY2(prompts.messages().first().contains(message),
                 qPrintable(prompts.messages().first()));
        QTRY_VERIFY(!details(w));
        QVERIFY(!folders.exists(QStringLiteral("tmp.txt")));
        QCOMPARE(end.count(), 0);
    }

    // A window that failed is only deleted once the event loop gets to it: a click
    // before that must load a fresh window, which then stays.
    void clickRightAfterAFailure()
    {
        test::QueryFolders folders;
        test::PromptRecorder prompts;
        folders.putStandIn("exit 0");
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, QStringLiteral("10.0.0.5"));
        w.cmdMoreInfo_Click();
        w.cmdMoreInfo_Click();
        QCOMPARE(prompts.messages().size(), 2);

        folders.write(QStringLiteral("answer.txt"),
                      test::testData(QStringLiteral("details/worked-example-crlf.txt")));
        folders.putStandIn("cat answer.txt");
        w.cmdMoreInfo_Click();
        QCOMPARE(prompts.messages().size(), 2);
        QTRY_VERIFY(details(w) && details(w)->isVisible());
        QCOMPARE(details(w)->Grid1->TextMatrix(1, 1), QStringLiteral("Test Server"));
    }

    // In its raw output form quakestat takes the long name, and the window shows it.
    void longPlayerNameIsShown()
    {
        if (!needQuakestat())
            QSKIP("quakestat (Debian package qstat) is not installed");
        test::QueryFolders folders;
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
        QCOMPARE(prompts.messages(), QStringList());
        QVERIFY(details(w) && details(w)->isVisible());
        QCOMPARE(row(*details(w)->Grid2, 1), (QStringList{QString(3000, u'W'), "0", "999"}));
    }

    // The worked example through a stand-in QStat, once with CR LF and once with LF.
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
        test::QueryFolders folders;
        test::PromptRecorder prompts;
        // The stand-in answers with the address it was asked about as the server's.
        folders.putStandIn("printf 'Q2S^^VRAX^^%s^^VRAX^^Name^^VRAX^^map^^VRAX^^8^^VRAX^^0"
                           "^^VRAX^^5^^VRAX^^0\\n\\n' \"$7\"");
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, cell);
        w.cmdMoreInfo_Click();
        QCOMPARE(prompts.messages(), QStringList());
        frmMoreInfo *d = details(w);
        QVERIFY(d && d->isVisible());
        QCOMPARE(d->Grid1->TextMatrix(1, 0), asked);
        QCOMPARE(folders.read(QStringLiteral("info.bat")),
                 "qstat -hpn -R -P -raw ^^VRAX^^ -q2s " + asked.toLatin1() + " > tmp.txt\n");
    }

    void lineEndsDisplayAlike_data()
    {
        QTest::addColumn<bool>("crlf");
        QTest::newRow("CR LF") << true;
        QTest::newRow("LF") << false;
    }
    void lineEndsDisplayAlike()
    {
        QFETCH(bool, crlf);
        test::QueryFolders folders;
        test::PromptRecorder prompts;
        QByteArray answer = test::testData(QStringLiteral("details/worked-example-crlf.txt"));
        QVERIFY(!answer.isEmpty());
        if (!crlf)
            answer.replace("\r\n", "\n");
        folders.write(QStringLiteral("answer.txt"), answer);
        folders.putStandIn("cat answer.txt");
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, QStringLiteral("10.0.0.5"));
        w.cmdMoreInfo_Click();
        QCOMPARE(prompts.messages(), QStringList());
        frmMoreInfo *d = details(w);
        QVERIFY(d && d->isVisible());
        QCOMPARE(row(*d->Grid1, 1),
                 (QStringList{"10.0.0.5:27910", "Test Server", "base1", "16", "2", "45"}));
        QCOMPARE(d->Grid2->Rows(), 4);
        QCOMPARE(row(*d->Grid2, 2), (QStringList{"beta", "3", "120"}));
        QCOMPARE(items(*d->List1), (QStringList{"first rule", "second rule", "third rule"}));
    }

    // Closing the main window ends the program: the wait stops at once, QStat with it,
    // and nothing more runs (no parse, no window, no message).
    void closingTheMainWindowWhileWaiting()
    {
        test::QueryFolders folders;
        test::PromptRecorder prompts;
        test::EndRecorder end;
        folders.putStandIn("echo $$ > qstat.pid; exec sleep 30");
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        selectServer(w, QStringLiteral("10.0.0.5"));
        QTimer::singleShot(300, &w, [&w] { w.close(); });
        QElapsedTimer clock;
        clock.start();
        w.cmdMoreInfo_Click();
        QVERIFY(clock.elapsed() < 3000);
        QCOMPARE(end.count(), 1);
        QCOMPARE(prompts.prompts().size(), 0);
        QVERIFY(!details(w) || !details(w)->isVisible());
        const qint64 pid = folders.read(QStringLiteral("qstat.pid")).trimmed().toLongLong();
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!test::processRunning(pid), 3000);
    }
};

QTEST_MAIN(MoreInfoTest)
#include "tst_moreinfo.moc"
