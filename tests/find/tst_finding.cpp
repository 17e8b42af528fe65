// The main window's finding commands, driven through its menu entries and fields: the
// quick filter and View › Filter, favourites from the grid kept in [Sources], Find
// Player choosing a server, buddies reported once per appearance, stored columns.
#include "browser/frmTarvex.h"
#include "core/browser/Settings.h"
#include "core/filter/BuddyList.h"
#include "core/model/ServerModel.h"
#include "core/sources/SourceSettings.h"
#include "core/status/StatusReply.h"
#include "find/frmFindPlayer.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"
#include "ui/ServerView.h"
#include "Q2Responder.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

using namespace tarvex;
using namespace tarvex::test;

namespace {

status::ServerStatus answer(const QByteArray &info, const QByteArray &players = {})
{
    const auto s = status::parseStatusReply("\xff\xff\xff\xffprint\n" + info + "\n" + players);
    Q_ASSERT(s);
    return *s;
}

model::ServerKey key(quint32 last)
{
    return model::ServerKey::fromAddress(0x7f000000u | last, 27910);
}

// Three answered servers: a green-lettered name with two players, a locked one with a
// third, an empty one.
void fill(frmTarvex &w)
{
    model::ServerModel &m = *w.serverModel();
    for (quint32 i = 1; i <= 3; ++i)
        m.upsertListed(key(i), QStringLiteral("list"), {});
    m.setAnswer(key(1),
                answer("\\hostname\\\xd2\xef\xe3\xeb\xe5\xf4 Arena\\mapname\\q2dm1\\maxclients\\8",
                       "1 20 \"Amy\"\n2 30 \"Bob\"\n"),
                30);
    m.setAnswer(key(2), answer("\\hostname\\Locked\\needpass\\1\\maxclients\\8", "1 1 \"Cid\"\n"),
                40);
    m.setAnswer(key(3), answer("\\hostname\\Empty\\maxclients\\8"), 50);
    w.updateShown();
}

QStringList shownNames(const frmTarvex &w)
{
    QStringList names;
    for (int row = 1; row < w.Grid1->Rows(); ++row)
        names << w.Grid1->TextMatrix(row, frmTarvex::ColName);
    return names;
}

QAction *entry(const frmTarvex &w, const char *name)
{
    auto *a = w.findChild<QAction *>(QLatin1String(name));
    Q_ASSERT(a);
    return a;
}

} // namespace

class TestFinding : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<PromptRecorder> m_prompts;

private slots:
    void init()
    {
        m_settings = std::make_unique<TempSettings>();
        m_prompts = std::make_unique<PromptRecorder>();
    }
    void cleanup()
    {
        m_prompts.reset();
        m_settings.reset();
    }

    void quickFilterAndToggles()
    {
        {
            frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
            fill(w);
            QCOMPARE(w.lblShown->text(), QStringLiteral("showing 3 of 3 servers, 3 players"));
            w.txtFilter->setText(QStringLiteral("ROCKET"));
            QCOMPARE(shownNames(w), QStringList{QStringLiteral("Rocket Arena")});
            QCOMPARE(w.lblShown->text(), QStringLiteral("showing 1 of 3 servers, 2 players"));
            // The handlers count rows as shown: row 1 is the one server left.
            w.Grid1->setRow(1);
            QCOMPARE(w.Grid1->keyAt(1), std::optional(key(1)));
            // Esc with no refresh running clears the filter.
            w.escapePressed();
            QVERIFY(w.txtFilter->text().isEmpty());
            QCOMPARE(w.Grid1->Rows(), 4);

            entry(w, "mnuHideEmpty")->trigger();
            entry(w, "mnuHidePassworded")->trigger();
            QCOMPARE(shownNames(w), QStringList{QStringLiteral("Rocket Arena")});
            // A server whose next answer has nobody on it goes once the list is filtered.
            w.serverModel()->setAnswer(key(1), answer("\\hostname\\Rocket Arena"), 30);
            w.updateShown();
            QCOMPARE(w.Grid1->Rows(), 1);
        }
        // The toggles are stored; the quick text is not.
        frmTarvex again(nullptr, frmTarvex::PingControl::Skip);
        QVERIFY(entry(again, "mnuHideEmpty")->isChecked());
        QVERIFY(entry(again, "mnuHidePassworded")->isChecked());
        QVERIFY(!entry(again, "mnuHideFull")->isChecked());
        fill(again);
        QCOMPARE(shownNames(again), QStringList{QStringLiteral("Rocket Arena")});
    }

    void favouritesFromTheGrid()
    {
        m_settings->writeIni("[Sources]\n1\\kind=text\n1\\address=http://127.0.0.1:1/?raw=1\n"
                             "1\\enabled=True\nsize=1\n");
        {
            frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
            fill(w);
            w.Grid1->setRow(w.Grid1->rowOf(key(2)));
            QVERIFY(entry(w, "mnuAddFavourite")->isVisible());
            entry(w, "mnuAddFavourite")->trigger();
            entry(w, "mnuAddFavourite")->trigger(); // hidden now: nothing twice
            QVERIFY(w.serverModel()->find(key(2))->favourite);
            QVERIFY(entry(w, "mnuRemoveFavourite")->isVisible());
            w.Grid1->setRow(w.Grid1->rowOf(key(3)));
            entry(w, "mnuAddFavourite")->trigger();
        }
        const QList<sources::SourceEntry> stored = sources::loadSources();
        QCOMPARE(stored.size(), 2);
        QCOMPARE(stored[0].kind, sources::SourceKind::TextList);
        QCOMPARE(stored[1].kind, sources::SourceKind::Favourites);
        QCOMPARE(stored[1].address, QStringLiteral("127.0.0.2:27910 127.0.0.3:27910"));

        // After a restart the favourites are marked, shown alone, and one is taken off.
        frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
        fill(w);
        entry(w, "mnuFavouritesOnly")->trigger();
        QCOMPARE(shownNames(w), (QStringList{QStringLiteral("Locked"), QStringLiteral("Empty")}));
        w.Grid1->setRow(1);
        entry(w, "mnuRemoveFavourite")->trigger();
        QCOMPARE(shownNames(w), QStringList{QStringLiteral("Empty")});
        QCOMPARE(sources::loadSources()[1].address, QStringLiteral("127.0.0.3:27910"));
        w.Grid1->setRow(1);
        entry(w, "mnuRemoveFavourite")->trigger();
        QCOMPARE(sources::loadSources().size(), 1);
        QVERIFY(m_prompts->messages().isEmpty());
    }

    void copyOnlyAPlainConnectLine()
    {
        frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
        fill(w);
        // A page row may hold any text where its address should be.
        w.serverModel()->upsertListed(
            {0, 0, QStringLiteral("x")}, QStringLiteral("page"),
            {QStringLiteral("Odd"), QStringLiteral("1.2.3.4;quit"), {}, {}, true});
        QApplication::clipboard()->setText(QStringLiteral("before"));
        w.Grid1->setRow(w.Grid1->rowOf(key(2)));
        entry(w, "mnuCopyConnect")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("+connect 127.0.0.2:27910"));
        w.Grid1->setRow(w.Grid1->rowOf({0, 0, QStringLiteral("x")}));
        entry(w, "mnuCopyAddress")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("1.2.3.4;quit"));
        entry(w, "mnuCopyConnect")->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("1.2.3.4;quit"));
        QCOMPARE(m_prompts->messages().size(), 1);
        // Nor can it be a favourite: the favourites hold addresses only.
        entry(w, "mnuAddFavourite")->trigger();
        QCOMPARE(m_prompts->messages().size(), 2);
        QVERIFY(sources::loadSources().size() == 1
                && sources::loadSources()[0].kind != sources::SourceKind::Favourites);
    }

    void refreshThisServer()
    {
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        tools::Q2ServerConfig config;
        config.port = probe.localPort();
        probe.close();
        config.info = "\\hostname\\Fresh\\gamedir\\action\\needpass\\1\\maxclients\\4";
        config.players = {{3, 40, "Dee"}};
        tools::Q2Responder responder;
        QVERIFY(responder.addServer(config));

        frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
        const auto k = model::ServerKey::fromAddress(0x7f000001u, config.port);
        w.serverModel()->upsertListed(k, QStringLiteral("list"), {});
        w.Grid1->setRow(1);
        entry(w, "mnuRefreshServer")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(w.serverModel()->find(k)->answered(), 5000);
        QCOMPARE(w.Grid1->TextMatrix(1, frmTarvex::ColName), QStringLiteral("Fresh"));
        QCOMPARE(w.Grid1->TextMatrix(1, model::ServerModel::ColMod), QStringLiteral("action"));
        QVERIFY(!w.Grid1->TextMatrix(1, model::ServerModel::ColLock).isEmpty());
        QTRY_COMPARE(w.lblShown->text(), QStringLiteral("showing 1 of 1 servers, 1 player"));
    }

    void findPlayerChoosesAServer()
    {
        frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
        fill(w);
        w.txtFilter->setText(QStringLiteral("empty"));
        entry(w, "mnuFindPlayer")->trigger();
        frmFindPlayer *find = w.findPlayerWindow();
        QVERIFY(find);
        find->searchField()->setText(QStringLiteral("/^b"));
        QCOMPARE(find->results()->count(), 1);
        find->searchField()->setText(QStringLiteral("/(unclosed"));
        QCOMPARE(find->results()->count(), 0);
        QVERIFY(find->message()->text().startsWith(QStringLiteral("Invalid regular expression")));
        find->searchField()->setText(QStringLiteral("CID"));
        QCOMPARE(find->results()->count(), 1);
        QTest::keyClick(find->searchField(), Qt::Key_Return);
        // The server was hidden by the quick filter: the filter gives way.
        QVERIFY(w.txtFilter->text().isEmpty());
        QCOMPARE(w.Grid1->keyAt(w.Grid1->Row()), std::optional(key(2)));
        // A new answer is searched without reopening the window.
        w.serverModel()->setAnswer(key(3), answer("\\hostname\\Empty", "0 0 \"Cidney\"\n"), 5);
        find->search();
        QCOMPARE(find->results()->count(), 2);
        find->close();
    }

    void buddyNotifiedOncePerAppearance()
    {
        QVERIFY(filter::saveBuddies({QStringLiteral("bob")}));
        frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
        QSignalSpy seen(&w, &frmTarvex::buddySeen);
        fill(w);
        const auto refreshed = [&w] {
            emit w.refreshPipeline()->finished(RefreshPipeline::End::Done);
        };
        refreshed();
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0][0].toString(), QStringLiteral("bob"));
        QCOMPARE(seen[0][1].toString(), QStringLiteral("Rocket Arena"));
        QVERIFY(w.lblShown->text().endsWith(QStringLiteral(", 1 with buddies")));
        refreshed(); // still there
        QCOMPARE(seen.size(), 1);
        w.serverModel()->setAnswer(key(1), answer("\\hostname\\Rocket Arena", "0 0 \"Amy\"\n"), 5);
        refreshed(); // gone
        w.serverModel()->setAnswer(key(3), answer("\\hostname\\Empty", "0 0 \"BOB\"\n"), 5);
        refreshed(); // back, elsewhere
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[1][1].toString(), QStringLiteral("Empty"));
        // A refresh that was stopped half way says nothing about who left.
        w.serverModel()->setAnswer(key(3), answer("\\hostname\\Empty"), 5);
        emit w.refreshPipeline()->finished(RefreshPipeline::End::Cancelled);
        w.serverModel()->setAnswer(key(3), answer("\\hostname\\Empty", "0 0 \"BOB\"\n"), 5);
        refreshed();
        QCOMPARE(seen.size(), 2);
    }

    void columnsAndAutoRefreshStored()
    {
        {
            frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
            entry(w, "mnuColumn6")->trigger(); // Mod off
            w.Grid1->horizontalHeader()->moveSection(9, 0); // Country first
            entry(w, "mnuAutoRefresh5")->trigger();
            QCOMPARE(w.autoRefreshMinutes(), 5);
        }
        frmTarvex w(nullptr, frmTarvex::PingControl::Skip);
        QVERIFY(w.Grid1->isColumnHidden(model::ServerModel::ColMod));
        QVERIFY(!entry(w, "mnuColumn6")->isChecked());
        QCOMPARE(w.Grid1->horizontalHeader()->logicalIndex(0), int(model::ServerModel::ColCountry));
        QCOMPARE(w.autoRefreshMinutes(), 5);
        QVERIFY(entry(w, "mnuAutoRefresh5")->isChecked());
        // Its turn starts a refresh only when nothing the user started is under way.
        QVERIFY(w.autoRefreshDue());
        QVERIFY(w.refreshRunning());
        QVERIFY(!w.autoRefreshDue());
        w.escapePressed();
        QVERIFY(!w.refreshRunning());
        QVERIFY(w.cmdRefresh->isEnabled());
    }
};

QTEST_MAIN(TestFinding)
#include "tst_finding.moc"
