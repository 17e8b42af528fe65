// The main window pinging its servers with its real Ping control, created from the
// built library by program identifier, inside a private network namespace: all of
// 127.0.0.0/8 answers there, and 192.0.2.0/24 is routed into loopback where nothing
// answers it.
#include "core/browser/ServerPing.h"
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ServerRows.h"
#include "hosting/PingLoader.h"
#include "support/ListPages.h"
#include "support/PromptRecorder.h"
#include "support/RecordingWindow.h"
#include "support/TestSupport.h"
#include "ListService.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::test;

namespace {

QString g_noNamespace; // why the echo tests cannot run here, when they cannot

// Runs before QApplication, while the process is single-threaded.
void enterPrivateNetwork()
{
    if (geteuid() != 0) {
        g_noNamespace =
            QStringLiteral("needs root for a private network namespace (CI runs as root)");
        return;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        g_noNamespace = QStringLiteral("unshare(CLONE_NEWNET) is not allowed here: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (std::system("ip link set lo up && ip route add 192.0.2.0/24 dev lo") != 0)
        g_noNamespace = QStringLiteral("could not set up loopback in the private namespace");
}

// A server grid on the window, filled as a refresh would.
void fill(frmTarvex &w, const QStringList &addresses)
{
    QList<QStringList> rows;
    for (int i = 0; i < addresses.size(); ++i)
        rows.append({QStringLiteral("Server %1").arg(i + 1), addresses[i],
                     QStringLiteral("%1/8").arg(i), QStringLiteral("q2dm%1").arg(i + 1)});
    test::listServers(w, rows);
}

QStringList column(const frmTarvex &w, int col)
{
    QStringList cells;
    for (int r = 1; r < w.Grid1->Rows(); ++r)
        cells << w.Grid1->TextMatrix(r, col);
    return cells;
}

bool isMilliseconds(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(text).hasMatch();
}

class Window : public frmTarvex
{
public:
    void showAboutSplash() override { }
};

} // namespace

class PingingTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<PromptRecorder> m_prompts;
    std::unique_ptr<EndRecorder> m_end;
    QStringList m_statuses;

    std::unique_ptr<Window> window()
    {
        auto w = std::make_unique<Window>();
        connect(w.get(), &frmTarvex::statusShown, this,
                [this](const QString &t) { m_statuses << t; });
        if (!w->pingControl())
            qWarning("no Ping control: %s", qPrintable(w->pingControlError()));
        return w;
    }

    static void setTimeOut(frmTarvex &w, int ms)
    {
        QVERIFY(w.pingControl()->widget()->setProperty("TimeOut", ms));
    }

    // Waits until the window's pings have ended (count finish texts shown).
    void waitForFinishes(int count)
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_statuses.count(ServerPing::FinishedText), count, 10000);
    }

    // Waits for a run of the control's own to a silent host with the same time-out: every
    // answer of a run cancelled before it would have come by then.
    static void waitPastTimeOut(frmTarvex &w)
    {
        hosting::PingControl *c = w.pingControl();
        QSignalSpy done(c, &hosting::PingControl::echoesFinished);
        QVERIFY(c->startEchoes({QStringLiteral("192.0.2.50")}) > 0);
        QVERIFY(done.wait(10000));
    }

private slots:
    void init()
    {
        if (!g_noNamespace.isEmpty())
            QSKIP(qPrintable(g_noNamespace));
        m_settings = std::make_unique<TempSettings>();
        m_prompts = std::make_unique<PromptRecorder>();
        m_end = std::make_unique<EndRecorder>();
        m_statuses.clear();
    }
    void cleanup()
    {
        m_end.reset();
        m_prompts.reset();
        m_settings.reset();
    }

    void controlComesWithTheWindowsLayout()
    {
        auto w = window();
        QVERIFY(w->pingControl());
        const QWidget *control = w->pingControl()->widget();
        QCOMPARE(control->property("TimeOut").toInt(), 1500);
        QCOMPARE(control->property("ResolveNames").toBool(), false);
        QCOMPARE(control->property("HostName").toString(), QString());
        QVERIFY(!control->isVisible());
    }

    void listPingFillsThePingColumn()
    {
        auto w = window();
        fill(*w, {"127.0.0.2:27910", "127.0.0.3", "192.0.2.99:27910", "127.0.0.4:27911"});
        setTimeOut(*w, 300);
        const QStringList names = column(*w, 0), addresses = column(*w, 1), players = column(*w, 2),
                          maps = column(*w, 3);
        w->cmdPing->click();
        waitForFinishes(1);
        const QStringList pings = column(*w, 4);
        QVERIFY2(isMilliseconds(pings[0]) && isMilliseconds(pings[1]) && isMilliseconds(pings[3]),
                 qPrintable(pings.join('|')));
        QCOMPARE(pings[2], QStringLiteral("Timed Out"));
        QCOMPARE(column(*w, 0), names);
        QCOMPARE(column(*w, 1), addresses);
        QCOMPARE(column(*w, 2), players);
        QCOMPARE(column(*w, 3), maps);
        QCOMPARE(
            m_statuses,
            (QStringList{"Pinging Servers - 20%", "Pinging Servers - 40%", "Pinging Servers - 60%",
                         "Pinging Servers - 80%", ServerPing::FinishedText}));
        QVERIFY(m_prompts->prompts().isEmpty());
    }

    void selectedPingChangesOneCell()
    {
        auto w = window();
        fill(*w, {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"});
        // Before any server is selected the current row is the title row: no ping of
        // "Address", nothing written over the title.
        w->cmdPingSelect->click();
        QCOMPARE(column(*w, 4), QStringList(4, QString()));
        QCOMPARE(w->Grid1->TextMatrix(0, 4), QStringLiteral("Ping"));
        QVERIFY(m_statuses.last().contains(QLatin1String("Select a server")));

        QTest::mouseClick(w->Grid1->viewport(), Qt::LeftButton, {},
                          w->Grid1->viewport()->mapFrom(w->Grid1, w->Grid1->cellCenter(2, 0)));
        QCOMPARE(w->Grid1->Row(), 2);
        m_statuses.clear();
        w->cmdPingSelect->click();
        waitForFinishes(1);
        const QStringList pings = column(*w, 4);
        QVERIFY(isMilliseconds(pings[1]));
        QCOMPARE(pings[0], QString());
        QCOMPARE(pings[2], QString());
        QCOMPARE(pings[3], QString());
        QCOMPARE(m_statuses, (QStringList{"Pinging Server - 40%", ServerPing::FinishedText}));
    }

    void refreshEndsWithTheListPingWhenChosen_data()
    {
        QTest::addColumn<QByteArray>("option");
        QTest::addColumn<bool>("pageServed");
        QTest::addColumn<bool>("pinged");
        QTest::newRow("checked") << QByteArray("True") << true << true;
        QTest::newRow("unchecked") << QByteArray("False") << true << false;
        QTest::newRow("failed refresh") << QByteArray("True") << false << false;
    }
    void refreshEndsWithTheListPingWhenChosen()
    {
        QFETCH(QByteArray, option);
        QFETCH(bool, pageServed);
        QFETCH(bool, pinged);
        tools::ListService service;
        QVERIFY(service.listen());
        QList<ServerRow> rows;
        rows.append({QStringLiteral("A"), QStringLiteral("127.0.0.2:27910"), QStringLiteral("1/8"),
                     QStringLiteral("q2dm1")});
        rows.append({QStringLiteral("B"), QStringLiteral("127.0.0.3:27910"), QStringLiteral("2/8"),
                     QStringLiteral("q2dm2")});
        service.setPage(pageServed ? listPage(rows).toUtf8() : QByteArray("short"));
        m_settings->writeIni("[Data]\nQuakeLocation=x\nmnuPing=" + option
                             + "\n[Endpoints]\nServerListHost=" + service.baseUrl().toUtf8()
                             + "\n");
        auto w = window();
        w->Form_Load();
        if (!pinged)
            QVERIFY(test::settle(*w));
        if (pinged) {
            waitForFinishes(1);
            QCOMPARE(m_statuses.mid(m_statuses.indexOf(frmTarvex::RefreshedText)),
                     (QStringList{frmTarvex::RefreshedText, "Pinging Servers - 33%",
                                  "Pinging Servers - 67%", ServerPing::FinishedText}));
            QVERIFY(isMilliseconds(w->Grid1->TextMatrix(1, 4)));
            QVERIFY(isMilliseconds(w->Grid1->TextMatrix(2, 4)));
        } else {
            QVERIFY(!m_statuses.contains(ServerPing::FinishedText));
            QCOMPARE(column(*w, 4).join(QString()), QString());
        }
    }

    // A second "Ping List" while one runs starts it again: the first run ends unfinished.
    void secondListPingRestarts()
    {
        auto w = window();
        fill(*w, {"127.0.0.2", "127.0.0.3", "127.0.0.4"});
        bool again = false;
        connect(w.get(), &frmTarvex::statusShown, this, [&](const QString &t) {
            if (!again && t.startsWith(ServerPing::ListStatusPrefix)) {
                again = true;
                QTimer::singleShot(0, w->cmdPing, &QPushButton::click);
            }
        });
        w->cmdPing->click();
        waitForFinishes(1);
        waitPastTimeOut(*w);
        // The first run's answers up to the restart, then the new run whole.
        QVERIFY2(m_statuses.size() >= 5, qPrintable(m_statuses.join('|')));
        QCOMPARE(m_statuses.first(), QStringLiteral("Pinging Servers - 25%"));
        QCOMPARE(m_statuses.mid(m_statuses.size() - 4),
                 (QStringList{"Pinging Servers - 25%", "Pinging Servers - 50%",
                              "Pinging Servers - 75%", ServerPing::FinishedText}));
        QCOMPARE(m_statuses.count(ServerPing::FinishedText), 1);
        for (const QString &ping : column(*w, 4))
            QVERIFY(isMilliseconds(ping));
    }

    // A refresh cancels the run: no answer of the old rows lands in the new ones (a silent
    // server's "Timed Out", or a late answer, never shows in a row of the new list).
    void refreshCancelsTheRun()
    {
        tools::ListService service;
        QVERIFY(service.listen());
        service.setPage(listPage({{"Only", "127.0.0.9:27910", "0/8", "base1"}}).toUtf8());
        m_settings->writeIni("[Data]\nmnuPing=False\n[Endpoints]\nServerListHost="
                             + service.baseUrl().toUtf8() + "\n");
        auto w = window();
        setTimeOut(*w, 300);
        fill(*w, {"127.0.0.2", "192.0.2.99", "192.0.2.98"});
        bool refreshed = false;
        connect(w.get(), &frmTarvex::statusShown, this, [&](const QString &t) {
            if (!refreshed && t.startsWith(ServerPing::ListStatusPrefix)) {
                refreshed = true;
                QTimer::singleShot(0, w.get(), &frmTarvex::cmdRefresh_Click);
            }
        });
        w->cmdPing->click();
        QTRY_VERIFY(m_statuses.contains(frmTarvex::RefreshedText));
        waitPastTimeOut(*w);
        QCOMPARE(w->Grid1->Rows(), 2);
        QCOMPARE(w->Grid1->TextMatrix(1, 0), QStringLiteral("Only"));
        QCOMPARE(w->Grid1->TextMatrix(1, 4), QString());
        QVERIFY(!m_statuses.contains(ServerPing::FinishedText));
        QCOMPARE(m_statuses.last(), frmTarvex::RefreshedText);
    }

    void selectedPingDuringARun()
    {
        auto w = window();
        setTimeOut(*w, 300);
        fill(*w, {"127.0.0.2", "127.0.0.3", "192.0.2.99"});
        w->Grid1->setRow(2);
        bool selected = false;
        connect(w.get(), &frmTarvex::statusShown, this, [&](const QString &t) {
            if (!selected && t.startsWith(ServerPing::ListStatusPrefix)) {
                selected = true;
                QTimer::singleShot(0, w->cmdPingSelect, &QPushButton::click);
            }
        });
        w->cmdPing->click();
        waitForFinishes(2);
        QVERIFY(m_statuses.contains(QStringLiteral("Pinging Server - 50%")));
        QCOMPARE(m_statuses.last(), ServerPing::FinishedText);
        QCOMPARE(
            column(*w, 4).mid(0, 2).filter(QRegularExpression(QStringLiteral("^[0-9]+$"))).size(),
            2);
        QCOMPARE(w->Grid1->TextMatrix(3, 4), QStringLiteral("Timed Out"));
    }

    // While a silent server is awaited the window handles its events: a timer fires, and
    // the details of the grid can be sorted.
    void windowAnswersWhileWaiting()
    {
        auto w = window();
        setTimeOut(*w, 1000);
        fill(*w, {"192.0.2.99", "127.0.0.2"});
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (!m_statuses.contains(ServerPing::FinishedText))
                ++ticks;
        });
        ticker.start(20);
        w->cmdPing->click();
        QVERIFY(!m_statuses.contains(ServerPing::FinishedText)); // the click returned at once
        waitForFinishes(1);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QCOMPARE(w->Grid1->TextMatrix(1, 4), QStringLiteral("Timed Out"));
        QVERIFY(isMilliseconds(w->Grid1->TextMatrix(2, 4)));
    }

    void closingDuringARunEndsIt()
    {
        auto w = window();
        setTimeOut(*w, 300);
        fill(*w, {"127.0.0.2", "192.0.2.97", "192.0.2.98", "192.0.2.99"});
        bool closed = false;
        connect(w.get(), &frmTarvex::statusShown, this, [&](const QString &t) {
            if (!closed && t.startsWith(ServerPing::ListStatusPrefix)) {
                closed = true;
                QTimer::singleShot(0, w.get(), &QWidget::close);
            }
        });
        w->cmdPing->click();
        QTRY_COMPARE(m_end->count(), 1);
        waitPastTimeOut(*w);
        QCOMPARE(m_statuses, QStringList{"Pinging Servers - 20%"}); // nothing after the end
        QCOMPARE(column(*w, 4).mid(1), QStringList(3, QString()));
    }

    void missingLibrary()
    {
        auto w = window();
        fill(*w, {"127.0.0.2"});
        QVERIFY(!w->createPingControl(hosting::SearchPath{}));
        QVERIFY(!w->pingControl());
        QVERIFY(!w->pingControlError().isEmpty());
        w->cmdPing->click();
        w->Grid1->setRow(1);
        w->cmdPingSelect->click();
        QCOMPARE(m_prompts->messages().size(), 2);
        for (const QString &message : m_prompts->messages()) {
            QVERIFY2(message.contains(QLatin1String("\"PingOCX.Ping\"")), qPrintable(message));
            QVERIFY(message.contains(w->pingControlError()));
        }
        QCOMPARE(w->Grid1->TextMatrix(1, 4), QString());
        QVERIFY(m_statuses.isEmpty());
    }
};

int main(int argc, char *argv[])
{
    enterPrivateNetwork();
    QApplication app(argc, argv);
    PingingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pinging.moc"
