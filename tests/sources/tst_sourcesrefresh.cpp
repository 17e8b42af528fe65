// The main window's refresh from several sources: the page, a text list and a master
// merged, live names, players and maps from the responders, a silent 30 %, a failed
// source named; a cancel and a close in the middle; the Server Sources dialog.
#include "browser/frmSources.h"
#include "core/status/StatusEngine.h"
#include "ui/Dialogs.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ListPages.h"
#include "support/PromptRecorder.h"
#include "support/RecordingWindow.h"
#include "support/TestSupport.h"
#include "ListService.h"
#include "MasterResponder.h"
#include "Q2Responder.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

using namespace tarvex;
using namespace tarvex::sources;

class TestSourcesRefresh : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempSettings> m_settings;
    std::unique_ptr<test::PromptRecorder> m_prompts;
    std::unique_ptr<test::EndRecorder> m_end;
    tools::ListService m_lists;
    tools::MasterResponder m_master;
    tools::Q2Responder m_servers;
    QList<tools::Q2ServerConfig> m_farm;
    QStringList m_log;

    QString at(int i) const { return m_farm[i].endpoint(); }

private slots:
    void initTestCase()
    {
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 port = probe.localPort();
        probe.close();
        m_farm = tools::loopbackFarm(6, 30, port); // servers 0 and 4 never answer
        QVERIFY(m_servers.addServers(m_farm));
        QVERIFY(m_lists.listen());
        m_lists.setPage(
            test::listPage({{"Alpha", at(0), "1/8", "base1"}, {"Beta", at(1), "2/8", "base2"}})
                .toUtf8());
        m_lists.setDocument("/?raw=1", (at(1) + "\n" + at(2) + "\r\n" + at(3) + "\n").toUtf8());
        QVERIFY(m_master.listen());
        m_master.setRecords(tools::MasterResponder::records({at(3), at(4), at(5)}));
    }
    void init()
    {
        m_settings = std::make_unique<test::TempSettings>();
        m_prompts = std::make_unique<test::PromptRecorder>();
        m_end = std::make_unique<test::EndRecorder>();
        m_settings->writeIni("[Data]\nQuakeLocation=/games/quake2/quake2\nmnuPing=False\n");
        QVERIFY(saveSources(
            {{SourceKind::Page, m_lists.baseUrl(), true},
             {SourceKind::TextList, m_lists.baseUrl() + "/?raw=1", true},
             {SourceKind::BinaryList, m_lists.baseUrl() + "/missing", true},
             {SourceKind::Master, QStringLiteral("127.0.0.1:%1").arg(m_master.port()), true},
             {SourceKind::Lan, QString(), false}}));
        m_log.clear();
    }
    void cleanup()
    {
        ui::setDialogHook({});
        m_end.reset();
        m_prompts.reset();
        m_settings.reset();
    }

    void mergesAndFillsLive()
    {
        test::RecordingWindow w(m_log);
        w.Form_Load();
        QTRY_VERIFY_WITH_TIMEOUT(w.statusRefreshRunning(), 10000);
        QCOMPARE(w.Grid1->Rows(), 7);
        QTRY_VERIFY_WITH_TIMEOUT(!w.statusRefreshRunning(), 15000);
        const QStringList expected[] = {
            {"Alpha", at(0), "1/8 (no answer)", "base1"},
            {"Beta", at(1), "1/16", "q2dm2"},
            {"Loopback Server 3", at(2), "2/16", "q2dm3"},
            {"Loopback Server 4", at(3), "3/16", "q2dm4"},
            {"", at(4), "(no answer)", ""},
            {"Loopback Server 6", at(5), "0/16", "q2dm6"},
        };
        for (int r = 1; r <= 6; ++r) {
            QStringList row;
            for (int c = 0; c < 4; ++c)
                row << w.Grid1->TextMatrix(r, c);
            QCOMPARE(row, expected[r - 1]);
        }
        // The failed source is named with its address.
        QCOMPARE(w.Label1->text(),
                 QStringLiteral("Server list refreshed; not reached: binary list ")
                     + m_lists.baseUrl() + QStringLiteral("/missing."));
        QVERIFY(m_prompts->messages().isEmpty());
        QCOMPARE(test::buttonStates(w), test::AllButtons);
    }

    void everySourceFailing()
    {
        QVERIFY(saveSources({{SourceKind::TextList, m_lists.baseUrl() + "/missing", true},
                             {SourceKind::Favourites, "", false}}));
        test::RecordingWindow w(m_log);
        w.Form_Load();
        QVERIFY(test::settle(w));
        QCOMPARE(m_prompts->messages().size(), 1);
        QVERIFY(m_prompts->messages().first().startsWith(
            "Unable to connect to main server database.  text list"));
        QVERIFY(!w.statusRefreshRunning());
    }

    void cancelAndClose()
    {
        test::RecordingWindow w(m_log);
        w.Form_Load();
        QTRY_VERIFY_WITH_TIMEOUT(w.statusRefreshRunning(), 10000);
        w.cmdRefresh->click(); // pressed again: stops, refreshes nothing
        QVERIFY(!w.statusRefreshRunning());
        QCOMPARE(w.Label1->text(), QStringLiteral("Server status refresh stopped."));
        QCOMPARE(w.Grid1->Rows(), 7);

        w.cmdRefresh->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.statusRefreshRunning(), 10000);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Escape); // Esc stops it too
        QVERIFY(!w.statusRefreshRunning());

        w.cmdRefresh->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.statusRefreshRunning(), 10000);
        const int queries = m_servers.queryCount();
        w.close();
        QCOMPARE(m_end->count(), 1);
        QVERIFY(!w.statusRefreshRunning());
        // Nothing is sent after the end, however long the events run.
        QTRY_COMPARE_WITH_TIMEOUT(m_servers.queryCount(), queries, 200);
    }

    void sourcesDialogPersists()
    {
        test::RecordingWindow w(m_log);
        ui::setDialogHook([](QDialog &d) {
            auto &dialog = static_cast<frmSources &>(d);
            dialog.lstSources->item(0)->setCheckState(Qt::Unchecked);
            dialog.lstSources->setCurrentRow(2);
            dialog.cmdRemove->click();
            dialog.cboKind->setCurrentIndex(dialog.cboKind->findText("favourites"));
            dialog.txtAddress->setText("10.0.0.1:80");
            QVERIFY(!dialog.addEntry()); // refused with a message, not added
            dialog.txtAddress->setText("10.0.0.1:27910 10.0.0.2:27911");
            QVERIFY(dialog.addEntry());
            dialog.accept();
        });
        w.mnuSources->trigger();
        QCOMPARE(m_prompts->messages().size(), 1);
        const QList<SourceEntry> stored = loadSources();
        QCOMPARE(stored.size(), 5);
        QVERIFY(!stored[0].enabled);
        QCOMPARE(stored[2].kind, SourceKind::Master);
        QCOMPARE(stored[4],
                 (SourceEntry{SourceKind::Favourites, "10.0.0.1:27910 10.0.0.2:27911", true}));
        QVERIFY(w.mnuSources->text() == QStringLiteral("Server &Sources..."));
    }
};

QTEST_MAIN(TestSourcesRefresh)
#include "tst_sourcesrefresh.moc"
