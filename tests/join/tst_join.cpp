// The info pane under the grid, and joining a server that asks for a password or is
// full, against a loopback stand-in server and the game stand-in.
#include "browser/InfoPane.h"
#include "browser/frmTarvex.h"
#include "console/PasswordDialog.h"
#include "console/SecretStore.h"
#include "core/model/ServerModel.h"
#include "core/status/StatusReply.h"
#include "support/UdpAnswerer.h"
#include "support/GameStandIn.h"
#include "support/PromptRecorder.h"
#include "support/ServerRows.h"
#include "support/TestSupport.h"
#include "ui/ServerView.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSet>
#include <QShortcut>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

using namespace tarvex;

namespace {

// A Quake 2 server on loopback with four slots: each status ask is answered with the
// next of its player counts (the last one repeats) and its needpass rule.
class StandIn : public test::UdpAnswerer
{
public:
    explicit StandIn(QList<int> counts, int needpass = 0)
        : UdpAnswerer([this](const QByteArray &, quint16) {
              return QList<QByteArray>{
                  reply(m_counts.value(qMin(asks++, int(m_counts.size()) - 1)))};
          }),
          m_counts(std::move(counts)),
          m_needpass(needpass)
    { }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    model::ServerKey key() const { return model::ServerKey::fromAddressText(address()); }
    QByteArray reply(int players) const
    {
        QByteArray answer = QByteArray(4, '\xff') + "print\n\\maxclients\\4\\hostname\\Stand-in"
            + "\\mapname\\q2dm1\\needpass\\" + QByteArray::number(m_needpass)
            + "\\version\\q2 3.20\n";
        for (int i = 0; i < players; ++i)
            answer += QByteArray::number(10 - i) + " " + QByteArray::number(90 - 20 * i) + " \"p"
                + QByteArray::number(i) + "\"\n";
        return answer;
    }
    status::ServerStatus status(int players) const
    {
        return *status::parseStatusReply(reply(players));
    }
    int asks = 0;

private:
    QList<int> m_counts;
    int m_needpass;
};

// A main window over the stand-in (row 1) and a server known by name only (row 2), its
// game located at the game stand-in, boxes answered, passwords kept in memory.
struct Bench
{
    test::TempSettings settings;
    test::PromptRecorder prompts;
    test::EndRecorder ends;
    QHash<QString, QString> secrets;
    QTemporaryDir dir;
    StandIn &server;
    frmTarvex window{nullptr, frmTarvex::PingControl::Skip};

    explicit Bench(StandIn &s, qint64 answerAgeMs = 0)
        : server(s)
    {
        SecretStore::useMemoryForTests(&secrets);
        for (const char *sub : {"Quake 2", "runs"})
            QDir(dir.path()).mkpath(QLatin1String(sub));
        window.mnuCloseStartup->setChecked(false);
        prompts.answerNext(
            test::writeGameStandIn(gameDir() + QStringLiteral("/quake2.exe"), runsDir()));
        window.mnuDirectory_Click();
        prompts.clear();
        test::listServers(window,
                          {{"Stand-in", s.address(), "4/4", "q2dm1", ""},
                           {"By name", "q2.example.test:27910", "1/8", "base1", ""}});
        if (answerAgeMs >= 0)
            window.serverModel()->setAnswer(s.key(), s.status(4), 20,
                                            QDateTime::currentMSecsSinceEpoch() - answerAgeMs);
        window.setInfoAsking(true);
        window.show();
    }
    ~Bench() { SecretStore::useMemoryForTests(nullptr); }

    QString gameDir() const
    {
        return QDir(dir.filePath(QStringLiteral("Quake 2"))).canonicalPath();
    }
    QString runsDir() const { return dir.filePath(QStringLiteral("runs")); }
    QList<QStringList> runs() const { return test::gameRuns(runsDir()); }
    QStringList expected(const QStringList &args) const
    {
        QStringList lines{QStringLiteral("program=quake2.exe"), QStringLiteral("cwd=") + gameDir()};
        for (const QString &a : args)
            lines << QStringLiteral("arg=") + a;
        return lines;
    }
    // Answers the next password dialogs with password, the box ticked or not; notes
    // what each dialog held when it opened.
    void answerPassword(const QString &password, bool remember)
    {
        prompts.onPrompt([this, password, remember](const ui::Prompt &p) {
            auto *dialog = qobject_cast<PasswordDialog *>(p.dialog);
            if (!dialog)
                return;
            opened << QStringLiteral("%1|%2").arg(dialog->password()).arg(dialog->remember());
            dialog->findChild<QLineEdit *>()->setText(password);
            dialog->findChild<QCheckBox *>()->setChecked(remember);
            dialog->accept();
            if (dialog->isVisible()) // refused: the reason it shows
                for (const QLabel *label : dialog->findChildren<QLabel *>())
                    if (label->accessibleName() == QLatin1String("Password problem"))
                        refusals << label->text();
        });
    }
    QStringList opened, refusals;
};

QStringList playerColumn(const QTableWidget *table, int col)
{
    QStringList cells;
    for (int r = 0; r < table->rowCount(); ++r)
        cells << table->item(r, col)->text();
    return cells;
}

} // namespace

class JoinTest : public QObject
{
    Q_OBJECT

private slots:
    // The pane shows the chosen server's last answer, sortable, every rule included. An
    // answer within the age threshold (10 s, or as set) is not asked for again, an
    // older one is once the selection rests on it; a window not loaded asks nobody.
    void paneFromTheModel()
    {
        StandIn server({3, 2});
        Bench b(server, 5000);
        InfoPane *pane = b.window.infoPane;
        QTableWidget *players = pane->playersTable(), *rules = pane->rulesTable();
        QVERIFY(pane->words().contains(QStringLiteral("Choose a server")));
        const auto choose = [&b](int row) {
            b.window.Grid1->setRow(row == 1 ? 2 : 1);
            b.window.Grid1->setRow(row);
        };
        choose(1);
        QVERIFY(pane->words().isEmpty());
        QCOMPARE(playerColumn(players, 0), QStringList({"p0", "p1", "p2", "p3"})); // most frags
        players->sortByColumn(2, Qt::AscendingOrder);
        QCOMPARE(playerColumn(players, 2), QStringList({"30", "50", "70", "90"}));
        QCOMPARE(rules->item(rules->rowCount() - 1, 0)->text(), QStringLiteral("version"));
        QCOMPARE(rules->item(rules->rowCount() - 1, 1)->text(), QStringLiteral("q2 3.20"));
        QTest::qWait(400);
        QCOMPARE(server.asks, 0); // 5 s old

        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        b.window.serverModel()->setAnswer(server.key(), server.status(4), 20, now - 11000);
        b.window.setInfoAsking(false);
        choose(1);
        QTest::qWait(400);
        QCOMPARE(server.asks, 0);
        b.window.setInfoAsking(true);
        choose(2);
        QVERIFY(pane->words().contains(QStringLiteral("listed by name only")));
        choose(1);
        QTRY_COMPARE_WITH_TIMEOUT(players->rowCount(), 3, 5000);
        QCOMPARE(server.asks, 1);
        QCOMPARE(b.window.Grid1->TextMatrix(1, frmTarvex::ColPlayers), QStringLiteral("3/4"));
        b.window.setInfoMaxAgeMs(0); // the answer just in is stale now
        choose(1);
        QTRY_COMPARE_WITH_TIMEOUT(players->rowCount(), 2, 5000);
        QCOMPARE(server.asks, 2);

        // Silent now: its last answer stays readable, marked as such.
        b.window.setInfoAsking(false);
        b.window.serverModel()->setFailed(server.key(), false);
        choose(1);
        QVERIFY(pane->words().isEmpty());
        QCOMPARE(players->rowCount(), 2);
        QVERIFY2(pane->caption().contains(QStringLiteral("no answer now; its last answer")),
                 qPrintable(pane->caption()));
    }

    // Without an answer the pane says why: not asked yet while the ask is pending, down
    // when the port refuses.
    void paneWithoutAnswer()
    {
        quint16 closed = 0;
        {
            QUdpSocket probe;
            QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
            closed = probe.localPort();
        }
        StandIn server({0});
        Bench b(server, -1);
        test::setCell(b.window, 1, frmTarvex::ColAddress,
                      QStringLiteral("127.0.0.1:%1").arg(closed));
        b.window.Grid1->setRow(1);
        QVERIFY(b.window.infoPane->words().contains(QStringLiteral("not been asked")));
        QTRY_VERIFY_WITH_TIMEOUT(b.window.infoPane->words().contains(QStringLiteral("down")), 5000);
    }

    // A needpass server asks for the password and starts the game with it; ticking the
    // box keeps it in the secret store (never in the settings file) and fills it in
    // the next time; unticking forgets it.
    void passwordJoin()
    {
        StandIn server({4}, 1);
        Bench b(server);
        b.window.Grid1->setRow(1);
        b.answerPassword(QStringLiteral("s3cret"), true);
        b.window.mnuJoin->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(b.runs().size(), 1, 5000);
        const QStringList withPassword =
            b.expected({"+set", "password", "s3cret", "+connect", server.address()});
        QCOMPARE(b.runs().first(), withPassword);
        const QString key = QStringLiteral("join ") + server.address();
        QCOMPARE(b.secrets.value(key), QStringLiteral("s3cret"));
        QVERIFY(!b.settings.readIni().contains("s3cret"));

        b.answerPassword(QStringLiteral("s3cret"), false);
        b.window.Grid1_DblClick();
        QTRY_COMPARE_WITH_TIMEOUT(b.runs().size(), 2, 5000);
        QCOMPARE(b.runs().last(), withPassword);
        QCOMPARE(b.opened, QStringList({"|0", "s3cret|1"}));
        QTRY_VERIFY(b.secrets.isEmpty());
    }

    // Only bit 1 of needpass asks for a password, Join with Password asks anyway; a
    // password the game's console would split is refused with the reason, and only a
    // later good one starts the game.
    void joinArguments_data()
    {
        QTest::addColumn<int>("needpass");
        QTest::addColumn<QString>("password"); // typed into the dialog, when one asks
        QTest::addColumn<QString>("refusal");
        QTest::newRow("no password") << 0 << QString() << QString();
        QTest::newRow("spectators' password only") << 2 << QString() << QString();
        QTest::newRow("join with password") << 0 << "pw" << QString();
        QTest::newRow("semicolon") << 1 << "a;quit"
                                   << "semicolon";
        QTest::newRow("double quote") << 1 << "a\"b"
                                      << "double quote";
        QTest::newRow("line break") << 1 << "a\nb"
                                    << "line break";
        QTest::newRow("control byte") << 1 << QString("a\x01z") << "control character";
    }
    void joinArguments()
    {
        QFETCH(int, needpass);
        QFETCH(QString, password);
        QFETCH(QString, refusal);
        StandIn server({4}, needpass);
        Bench b(server);
        b.window.Grid1->setRow(1);
        b.answerPassword(password, true);
        (needpass == 0 && !password.isEmpty() ? b.window.mnuJoinPassword : b.window.mnuJoin)
            ->trigger();
        if (!refusal.isEmpty()) {
            QTRY_COMPARE(b.refusals.size(), 1);
            QVERIFY2(b.refusals.first().contains(refusal), qPrintable(b.refusals.first()));
            QVERIFY(b.secrets.isEmpty());
            b.answerPassword(password = QStringLiteral("good"), false);
            b.window.mnuJoin->trigger();
        }
        QTRY_COMPARE_WITH_TIMEOUT(b.runs().size(), 1, 5000);
        QCOMPARE(b.runs().first(),
                 password.isEmpty()
                     ? b.expected({"+connect", server.address()})
                     : b.expected({"+set", "password", password, "+connect", server.address()}));
        QCOMPARE(b.opened.size(), password.isEmpty() ? 0 : refusal.isEmpty() ? 1 : 2);
    }

    // A full needpass server: the password first, then asks until a slot frees (the
    // status line counting who is ahead), then the game at once.
    void joinWhenFree()
    {
        StandIn server({4, 5, 3}, 1);
        Bench b(server);
        b.window.setSlotWatchTimings(100, 60000);
        QStringList statuses;
        connect(&b.window, &frmTarvex::statusShown, this, [&](const QString &t) { statuses << t; });
        QSignalSpy started(&b.window, &frmTarvex::startedWhenFree);
        b.window.Grid1->setRow(1);
        b.answerPassword(QStringLiteral("pw"), false);
        b.window.mnuJoinWhenFree->trigger();
        QTRY_VERIFY(b.window.waitingForSlot());
        QVERIFY(b.window.mnuJoinWhenFree->isChecked());
        QVERIFY(started.wait(5000));
        QCOMPARE(server.asks, 3);
        QTRY_COMPARE_WITH_TIMEOUT(b.runs().size(), 1, 5000);
        QCOMPARE(b.runs().first(),
                 b.expected({"+set", "password", "pw", "+connect", server.address()}));
        for (const char *ahead : {"full, 1 player ahead", "full, 2 players ahead"})
            QVERIFY2(!statuses.filter(QLatin1String(ahead)).isEmpty(), ahead);
        QVERIFY(started.first().first().toString().contains(QStringLiteral("Stand-in")));
        QVERIFY(!b.window.waitingForSlot());
        QVERIFY(!b.window.mnuJoinWhenFree->isChecked());
    }

    // Each Alt key of the window's menus and buttons has one owner: a key with two
    // would do neither.
    void mnemonicsAreUnique()
    {
        StandIn server({0});
        Bench b(server);
        QStringList keys;
        for (QAction *menu : b.window.menuBar()->actions())
            keys << QKeySequence::mnemonic(menu->text()).toString();
        for (QPushButton *button : b.window.centralWidget()->findChildren<QPushButton *>())
            keys << QKeySequence::mnemonic(button->text()).toString();
        keys.removeAll(QString());
        QVERIFY(keys.size() >= 11); // six menus, five buttons
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    }

    // The menu entry again, Esc and closing the window each stop the wait.
    void waitStops()
    {
        StandIn server({4});
        Bench b(server);
        b.window.setSlotWatchTimings(50, 60000);
        b.window.Grid1->setRow(1);
        auto *escape = b.window.findChild<QShortcut *>();
        QVERIFY(escape && escape->key() == QKeySequence(Qt::Key_Escape));
        for (const char *how : {"menu", "escape", "close"}) {
            b.window.mnuJoinWhenFree->trigger();
            QTRY_VERIFY(server.asks > 1);
            if (qstrcmp(how, "menu") == 0)
                b.window.mnuJoinWhenFree->trigger();
            else if (qstrcmp(how, "escape") == 0)
                emit escape->activated();
            else
                b.window.close();
            QVERIFY2(!b.window.waitingForSlot(), how);
            QVERIFY(!b.window.mnuJoinWhenFree->isChecked());
            const int asked = server.asks;
            QTest::qWait(200);
            QCOMPARE(server.asks, asked);
            server.asks = 0;
        }
        QVERIFY(b.runs().isEmpty());
        QCOMPARE(b.ends.count(), 1);
    }
};

QTEST_MAIN(JoinTest)
#include "tst_join.moc"
