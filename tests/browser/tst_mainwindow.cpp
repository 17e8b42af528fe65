#include "core/net/HttpTransfer.h"
#include "core/browser/ServerListParser.h"
#include "core/browser/ServerPing.h"
#include "browser/frmTarvex.h"
#include "console/RemoteConsole.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "core/model/ServerModel.h"
#include "support/ServerRows.h"
#include "support/ListPages.h"
#include "support/RecordingWindow.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"
#include "ListService.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using namespace tarvex;
using namespace tarvex::test;
using tarvex::tools::ListService;

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<PromptRecorder> m_prompts;
    std::unique_ptr<EndRecorder> m_end;
    std::unique_ptr<ListService> m_service;
    QStringList m_log;

    void pointAt(const QString &baseUrl,
                 const QByteArray &extra = "QuakeLocation=/games/quake2/quake2\n")
    {
        m_settings->writeIni("[Endpoints]\nServerListHost=" + baseUrl.toUtf8() + "\n[Data]\n"
                             + extra);
    }

    std::unique_ptr<RecordingWindow> loadedWindow()
    {
        auto w = std::make_unique<RecordingWindow>(m_log);
        w->Form_Load();
        settle(*w);
        return w;
    }

private slots:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_prompts = std::make_unique<PromptRecorder>();
        m_end = std::make_unique<EndRecorder>();
        m_service = std::make_unique<ListService>();
        QVERIFY(m_service->listen());
        m_service->setPage(listPage(generatedRows(3)).toUtf8());
        m_log.clear();
    }
    void cleanup()
    {
        m_service.reset();
        m_end.reset();
        m_prompts.reset();
        m_settings.reset();
    }

    void firstStartOnEmptySettings()
    {
        m_settings->writeIni("[Endpoints]\nServerListHost=" + m_service->baseUrl().toUtf8() + "\n");
        m_prompts->onPrompt([this](const ui::Prompt &p) {
            m_log << QStringLiteral("message:") + p.text;
            QCOMPARE(p.icon, ui::MsgIcon::Critical);
            QCOMPARE(p.title, QStringLiteral("Tarvex"));
        });
        QObject::connect(m_service.get(), &ListService::submissionReceived, [] {});
        auto w = std::make_unique<RecordingWindow>(m_log);
        w->Form_Load();
        QVERIFY(settle(*w));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tarvex 1.3"));
        QVERIFY(w->isVisible());
        QVERIFY(w->mnuPingStartup->isChecked());
        QVERIFY(w->mnuCloseStartup->isChecked());
        QCOMPARE(
            m_log,
            (QStringList{"message:You must locate Quake to continue.", "locate", "about", "ping"}));
        QCOMPARE(m_service->listRequests(), 1);
        QCOMPARE(w->Label1->text(), frmTarvex::RefreshedText);
        // No server is chosen yet.
        QCOMPARE(w->Grid1->Row(), 0);
        QCOMPARE(w->Grid1->TextMatrix(0, 0), QStringLiteral("Server List"));
        QCOMPARE(w->Grid1->TextMatrix(0, 4), QStringLiteral("Ping"));
        QCOMPARE(w->Grid1->ColWidth(0), 2500);
        QCOMPARE(w->Grid1->ColWidth(1), 2500);
        QCOMPARE(w->Grid1->Rows(), 4);
    }

    void storedOptionsAndLocation()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\nmnuCloseStartup=0\n");
        auto w = loadedWindow();
        QVERIFY(m_prompts->prompts().isEmpty());
        QVERIFY(!w->mnuPingStartup->isChecked());
        QVERIFY(!w->mnuCloseStartup->isChecked());
        QCOMPARE(m_log, (QStringList{"about"})); // no locate step, no ping after the refresh
        QCOMPARE(w->quakeLocation(), QStringLiteral("x"));
    }

    void optionEntriesToggleAndStore()
    {
        pointAt(m_service->baseUrl());
        auto w = loadedWindow();
        w->mnuPingStartup->trigger(); // as a click on the menu entry
        QVERIFY(!w->mnuPingStartup->isChecked());
        QVERIFY(m_settings->readIni().contains("mnuPing=False"));
        w->mnuPingStartup->trigger();
        QVERIFY(w->mnuPingStartup->isChecked());
        QVERIFY(m_settings->readIni().contains("mnuPing=True"));
        w->mnuCloseStartup->trigger();
        QVERIFY(m_settings->readIni().contains("mnuCloseStartup=False"));
        // The next start finds what was stored.
        auto again = loadedWindow();
        QVERIFY(again->mnuPingStartup->isChecked());
        QVERIFY(!again->mnuCloseStartup->isChecked());
    }

    void refreshReplacesTheList()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        auto w = loadedWindow();
        QList<QStringList> old;
        for (int i = 0; i < 20; ++i)
            old.append({QStringLiteral("old %1").arg(i), QStringLiteral("10.0.0.%1").arg(i + 1)});
        test::listServers(*w, old);
        w->serverModel()->setPing(model::ServerKey::fromAddress(0x0a000001, 27910), 47);
        m_service->setPage(listPage(generatedRows(2)).toUtf8());
        w->cmdRefresh->click();
        QVERIFY(settle(*w));
        QCOMPARE(w->Grid1->Rows(), 3);
        QCOMPARE(w->Grid1->TextMatrix(1, 0), QStringLiteral("Server 0"));
        QCOMPARE(w->Grid1->TextMatrix(1, 4), QString()); // the ping column starts empty
        QCOMPARE(w->Grid1->TextMatrix(2, 1), QStringLiteral("127.0.0.2:27910"));
        QCOMPARE(w->Label1->text(), frmTarvex::RefreshedText);
        QCOMPARE(buttonStates(*w), AllButtons);
        QCOMPARE(m_service->listRequests(), 2);
    }

    void buttonsAreDisabledDuringTheFetch()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        auto w = loadedWindow();
        m_service->setDelayMs(300);
        QStringList during;
        QString statusDuring;
        QTimer::singleShot(100, w.get(), [&] {
            during = buttonStates(*w);
            statusDuring = w->Label1->text();
        });
        w->cmdRefresh_Click();
        QVERIFY(settle(*w));
        QCOMPARE(during, QStringList());
        QCOMPARE(statusDuring, QStringLiteral("Getting Server List..."));
        QCOMPARE(buttonStates(*w), AllButtons);
    }

    void failedFetches_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("description");
        QTest::newRow("refused") << "refused"
                                 << "Connection refused";
        QTest::newRow("404") << "404"
                             << "server replied: Not Found";
        QTest::newRow("500") << "500"
                             << "server replied: Internal Server Error";
        QTest::newRow("headers then nothing") << "stall"
                                              << "did not answer within 0.3 seconds";
        QTest::newRow("199 characters") << "short"
                                        << "";
        QTest::newRow("over 32 MiB") << "huge"
                                     << "larger than 32 MiB";
    }
    void failedFetches()
    {
        QFETCH(QString, mode);
        QFETCH(QString, description);
        pointAt(m_service->baseUrl(), "QuakeLocation=x\n");
        auto w = loadedWindow();
        test::listServers(*w, {{QStringLiteral("kept until the refresh")}});
        m_log.clear();
        if (mode == QLatin1String("refused")) {
            // A port that was just free: nothing listens there.
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            const quint16 port = probe.serverPort();
            probe.close();
            pointAt(QStringLiteral("http://127.0.0.1:%1").arg(port));
        } else if (mode == QLatin1String("404")) {
            m_service->setMode(ListService::Mode::NotFound);
        } else if (mode == QLatin1String("500")) {
            m_service->setMode(ListService::Mode::ServerError);
        } else if (mode == QLatin1String("stall")) {
            m_service->setMode(ListService::Mode::Stall);
            w->Inet1->setTimeoutMs(300);
        } else if (mode == QLatin1String("short")) {
            m_service->setPage(QByteArray(199, 'x'));
        } else if (mode == QLatin1String("huge")) {
            QByteArray page = listPage(generatedRows(3)).toUtf8();
            page.append(QByteArray(HttpTransfer::DefaultMaxBytes + 1 - page.size(), ' '));
            m_service->setPage(page);
        }
        QStringList statusAtMessage;
        m_prompts->onPrompt([&](const ui::Prompt &) {
            statusAtMessage << w->Label1->text() << buttonStates(*w).join(QLatin1Char(','));
        });
        w->cmdRefresh_Click();
        QVERIFY(settle(*w));

        QCOMPARE(m_prompts->messages().size(), 1);
        const QString message = m_prompts->messages().first();
        QVERIFY2(message.startsWith(QLatin1String("Unable to connect to main server database.  ")),
                 qPrintable(message));
        QVERIFY2(
            message.endsWith(QLatin1String("  Try again by pressing the REFRESH LIST button.")),
            qPrintable(message));
        QVERIFY2(message.contains(description), qPrintable(message));
        QCOMPARE(m_prompts->prompts().first().icon, ui::MsgIcon::None);
        QCOMPARE(m_prompts->prompts().first().title, QStringLiteral("Tarvex"));
        // The box is shown with every button disabled; after it only three come back.
        QCOMPARE(statusAtMessage.value(1), QString());
        QCOMPARE(buttonStates(*w), (QStringList{"cmdRefresh", "cmdPing", "Command1"}));
        QCOMPARE(w->Label1->text(), QStringLiteral("Parsing Data, Please Wait..."));
        // No blank row is left behind: the title row alone.
        QCOMPARE(w->Grid1->Rows(), 1);
        QVERIFY(!m_log.contains(QStringLiteral("ping"))); // a failed refresh never pings
    }

    void pageOf200CharactersIsParsed()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        m_service->setPage(QByteArray(200, 'x'));
        auto w = loadedWindow();
        QVERIFY(m_prompts->messages().isEmpty());
        QCOMPARE(w->Label1->text(), frmTarvex::RefreshedText);
    }

    // A page without row ends: the rows stop at the bound with a warning, and the next
    // refresh empties the grid in one step before it fills it again.
    void pageCutAtTheRowBound()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        m_service->setPage(QByteArray(4 * ServerList::MaxRows + 1000, 'j'));
        auto w = loadedWindow();
        QCOMPARE(m_prompts->messages().size(), 1);
        QVERIFY2(m_prompts->messages().first().contains(QLatin1String("was cut")),
                 qPrintable(m_prompts->messages().first()));
        QCOMPARE(w->Grid1->Rows(), ServerList::MaxRows + 1);
        QCOMPARE(w->Label1->text(), frmTarvex::RefreshedText);
        m_service->setPage(listPage(generatedRows(3)).toUtf8());
        w->cmdRefresh_Click();
        QVERIFY(settle(*w));
        QCOMPARE(w->Grid1->Rows(), 4);
        QCOMPARE(w->Grid1->TextMatrix(3, 0), QStringLiteral("Server 2"));
        QCOMPARE(m_prompts->messages().size(), 1);
    }

    void pageThatIsNotUtf8()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        QList<ServerRow> rows = generatedRows(1);
        rows[0].name = QStringLiteral("Caf\u00e9 Frag");
        m_service->setPage(listPage(rows).toLatin1());
        auto w = loadedWindow();
        QCOMPARE(w->Grid1->TextMatrix(1, 0), QStringLiteral("Caf\u00e9 Frag"));
    }

    void closingDuringTheFetchEndsAtOnce()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\n");
        m_service->setMode(ListService::Mode::Stall);
        auto w = std::make_unique<RecordingWindow>(m_log);
        QTimer::singleShot(200, w.get(), [&] { w->close(); });
        QElapsedTimer timer;
        timer.start();
        w->Form_Load();
        QVERIFY(settle(*w, 5000));
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(m_end->count(), 1);
        QCOMPARE(m_end->lastCode(), 0);
        // Nothing after the end: no failure message, no ping, the refresh never finished.
        QVERIFY(m_prompts->messages().isEmpty());
        QCOMPARE(m_log, (QStringList{"about"}));
        QCOMPARE(w->Label1->text(), QStringLiteral("Getting Server List..."));
    }

    // Tools › Remote Console opens the selected server's console, at its own port; a row
    // without an IP address is refused in words and opens nothing.
    void remoteConsoleForTheSelectedServer()
    {
        frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
        QCOMPARE(w.mnuRemoteConsole->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
        test::listServers(w, {{QString(), QStringLiteral("q2.example.org:27911")}});
        w.Grid1->setRow(1);
        w.mnuRemoteConsole->trigger();
        QCOMPARE(m_prompts->messages().size(), 1);
        QVERIFY(w.findChildren<RemoteConsole *>().isEmpty());
        test::listServers(w, {{QString(), QStringLiteral("127.0.0.1:27911")}});
        w.Grid1->setRow(1);
        w.mnuRemoteConsole->trigger();
        const QList<RemoteConsole *> consoles = w.findChildren<RemoteConsole *>();
        QCOMPARE(consoles.size(), 1);
        QVERIFY(consoles.first()->isVisible());
        QCOMPARE(m_prompts->messages().size(), 1);
    }

    void exitEntryEndsTheProgram()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        auto w = loadedWindow();
        w->mnuExit->trigger();
        QCOMPARE(m_end->count(), 1);
    }

    // A larger window gives the grid the room, the bottom row follows the edge, and the
    // next start comes back with the same size and column widths.
    void resizedLayoutIsKept()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        auto w = loadedWindow();
        const QRect grid = w->Grid1->geometry(), refresh = w->cmdRefresh->geometry();
        w->resize(w->width() + 200, w->height() + 150);
        QTRY_COMPARE(w->centralWidget()->width(), 554 + 200);
        QCOMPARE(w->Grid1->geometry(), grid.adjusted(0, 0, 200, 150));
        QCOMPARE(w->cmdRefresh->geometry(), refresh.translated(0, 150));
        QVERIFY(w->Label2->geometry().right() <= w->centralWidget()->width());
        w->Grid1->setColWidth(frmTarvex::ColMap, 1234);
        const QSize grown = w->size();
        w->close();
        QVERIFY(m_settings->readIni().contains("[Window]"));
        auto again = loadedWindow();
        QCOMPARE(again->size(), grown);
        QCOMPARE(again->Grid1->ColWidth(frmTarvex::ColMap), 1234);
        QCOMPARE(again->Grid1->geometry(), grid.adjusted(0, 0, 200, 150));
    }

    // View › Descending Order makes a title press sort descending; the choice is kept.
    void descendingOrder()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        auto w = loadedWindow();
        QVERIFY(!w->mnuDescending->isChecked());
        const auto pressTitle = [&w](int col) {
            double x = 1;
            for (int c = 0; c < col; ++c)
                x += w->Grid1->ColWidth(c);
            w->Grid1_MouseDown(1, 0, x, 1);
        };
        pressTitle(frmTarvex::ColName);
        QCOMPARE(w->Grid1->TextMatrix(1, 0), QStringLiteral("Server 0"));
        w->mnuDescending->trigger();
        pressTitle(frmTarvex::ColName);
        QCOMPARE(w->Grid1->TextMatrix(1, 0), QStringLiteral("Server 2"));
        QVERIFY(m_settings->readIni().contains("DescendingOrder=True"));
        w->close();
        auto again = loadedWindow();
        QVERIFY(again->mnuDescending->isChecked());
    }

    void layoutAndCaptions()
    {
        pointAt(m_service->baseUrl(), "QuakeLocation=x\nmnuPing=False\n");
        auto w = loadedWindow();
        QCOMPARE(w->centralWidget()->size(), QSize(554, 311)); // 8310 x 4665 twips
        // The designed size is the default and the smallest; the window can grow.
        QCOMPARE(w->size(), w->minimumSize());
        QVERIFY(w->maximumSize().width() > w->minimumSize().width());
        // Every control lies within the client area (the grid may reach a pixel above it)
        // and none overlaps another.
        const QRect client = w->centralWidget()->rect().adjusted(0, -1, 0, 0);
        const QList<QWidget *> controls{w->Grid1,         w->cmdRefresh,  w->cmdPing, w->Command1,
                                        w->cmdPingSelect, w->cmdMoreInfo, w->Label1,  w->Label2};
        for (qsizetype i = 0; i < controls.size(); ++i) {
            const QRect at = controls[i]->geometry();
            QVERIFY2(client.contains(at), qPrintable(controls[i]->objectName()));
            for (qsizetype j = i + 1; j < controls.size(); ++j)
                QVERIFY2(!at.intersects(controls[j]->geometry()),
                         qPrintable(controls[i]->objectName() + QLatin1Char('/')
                                    + controls[j]->objectName()));
        }
        for (QPushButton *b :
             {w->cmdRefresh, w->cmdPing, w->Command1, w->cmdMoreInfo, w->cmdPingSelect}) {
            QString caption = b->text();
            caption.remove(QLatin1Char('&'));
            const int needed = b->fontMetrics().horizontalAdvance(caption) + 8;
            QVERIFY2(needed <= b->width(),
                     qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                    .arg(caption)
                                    .arg(needed)
                                    .arg(b->width())));
        }
        for (const QString &status : {frmTarvex::RefreshedText, ServerPing::FinishedText}) {
            const int needed = w->Label1->fontMetrics().horizontalAdvance(status);
            QVERIFY2(needed <= w->Label1->width(),
                     qPrintable(QStringLiteral("status needs %1 px, has %2")
                                    .arg(needed)
                                    .arg(w->Label1->width())));
        }
        QCOMPARE(w->mnuPingStartup->text(), QStringLiteral("&Ping On Startup"));
        QCOMPARE(w->mnuCloseStartup->text(), QStringLiteral("&Close On Game Startup"));
        QCOMPARE(w->mnuDirectory->text(), QStringLiteral("&Quake Directory"));
        QCOMPARE(w->mnuAbout->text(), QStringLiteral("&About"));
        QVERIFY(w->mnudash1->isSeparator());
        QVERIFY(w->mnudash2->isSeparator());
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
