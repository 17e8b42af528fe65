#include "core/browser/Settings.h"
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/GameStandIn.h"
#include "support/ServerRows.h"
#include "support/PromptRecorder.h"
#include "support/RecordingWindow.h"
#include "support/TestSupport.h"
#include "tools/listservice/ListService.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace tarvex;

namespace {

const QString LocateText = QStringLiteral("You must locate Quake to continue.");

// A main window with its own settings store, answered boxes and a recorded end, a game
// folder "Quake 2" for fake games and a PATH of one folder (no wine unless a test puts
// a fake one there). Every start of a fake game leaves one finished record in runs/.
struct Bench
{
    test::TempSettings settings;
    test::PromptRecorder prompts;
    test::EndRecorder ends;
    QTemporaryDir dir;
    QByteArray oldPath = qgetenv("PATH");
    frmTarvex window{nullptr, frmTarvex::PingControl::Skip};

    Bench()
    {
        for (const char *sub : {"Quake 2", "bin", "runs"})
            QDir(dir.path()).mkpath(QLatin1String(sub));
        qputenv("PATH", path(QStringLiteral("bin")).toLocal8Bit());
        window.mnuCloseStartup->setChecked(false);
        ServerView *g = window.Grid1;
        g->setColWidth(0, 2500);
        g->setColWidth(1, 2500);
        test::listServers(window,
                          {{"Gamma", "10.0.0.1", "9", "q2dm1", "timeout"},
                           {"Alpha", "10.0.0.3:27910", "10", "base1", "100"},
                           {"Beta", "10.0.0.2", "2", "q2dm2", "9"}});
        window.show();
    }
    ~Bench() { qputenv("PATH", oldPath); }

    QString path(const QString &name) const { return QDir(dir.path()).filePath(name); }
    QString gameDir() const { return QDir(path(QStringLiteral("Quake 2"))).canonicalPath(); }

    // A fake program that records its name, working folder and arguments.
    QString writeProgram(const QString &file, bool executable = true)
    {
        return test::writeGameStandIn(file, path(QStringLiteral("runs")), executable);
    }
    QString writeWindowsProgram(const QString &file)
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write("MZ\x90\0\3\0\0\0", 8);
        return file;
    }

    void locate(const QString &file)
    {
        prompts.answerNext(file);
        window.mnuDirectory_Click();
    }

    QStringList names() const
    {
        QStringList out;
        for (int r = 1; r < window.Grid1->Rows(); ++r)
            out << window.Grid1->TextMatrix(r, 0);
        return out;
    }

    void doubleClick(int row, int col = 0)
    {
        ServerView *g = window.Grid1;
        QWidget *target = row == 0 ? g->horizontalHeader()->viewport() : g->viewport();
        QTest::mouseDClick(target, Qt::LeftButton, {}, target->mapFrom(g, g->cellCenter(row, col)));
    }

    QList<QStringList> runs() const { return test::gameRuns(path(QStringLiteral("runs"))); }

    // Proves that an earlier refused double-click started nothing: a good launch made
    // after it must then be the only one recorded.
    void expectOnlyLaterLaunch()
    {
        test::setCell(window, 1, frmTarvex::ColAddress, QStringLiteral("10.9.9.9"));
        doubleClick(1);
        const auto laterRan = [this] {
            const QList<QStringList> all = runs();
            return std::any_of(all.begin(), all.end(), [](const QStringList &run) {
                return run.contains(QStringLiteral("arg=10.9.9.9"));
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(laterRan(), 5000);
        QCOMPARE(runs().size(), 1);
    }
};

// The file-name pattern of a dialog filter entry, matched as the program's dialog does:
// in any letter case.
bool filterMatches(const QString &filter, const QString &name)
{
    const QString patterns = filter.section(QLatin1Char('('), -1).chopped(1);
    for (const QString &p : patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpression pattern(QRegularExpression::wildcardToRegularExpression(p),
                                         QRegularExpression::CaseInsensitiveOption);
        if (pattern.match(name).hasMatch())
            return true;
    }
    return false;
}

class StartUpWindow : public frmTarvex
{
public:
    void showAboutSplash() override { }
};

} // namespace

class LaunchTest : public QObject
{
    Q_OBJECT

private slots:
    void locateStoresTheCleanPathAndKeepsItOnCancel()
    {
        Bench b;
        const QString game = b.writeProgram(b.gameDir() + QStringLiteral("/quake2.exe"));
        b.locate(b.gameDir() + QStringLiteral("//./quake2.exe"));
        const ui::Prompt asked = b.prompts.prompts().value(0);
        QCOMPARE(asked.kind, ui::Prompt::Kind::OpenFile);
        QCOMPARE(asked.title, QStringLiteral("Find Quake2"));
        QCOMPARE(asked.defaultText, QStringLiteral("quake2.exe"));
        QCOMPARE(asked.filters.size(), 2);
        QCOMPARE(asked.filters[0], QStringLiteral("Quake2 (Quake2.exe)"));
        for (const char *name : {"quake2.exe", "Quake2.exe", "QUAKE2.EXE"})
            QVERIFY2(filterMatches(asked.filters[0], QLatin1String(name)), name);
        QVERIFY(!filterMatches(asked.filters[0], QStringLiteral("yquake2")));
        QVERIFY(filterMatches(asked.filters[1], QStringLiteral("yquake2")));
        QCOMPARE(b.window.quakeLocation(), game);
        QCOMPARE(Settings::GetSetting(Settings::DataSection, Settings::KeyQuakeLocation, {}), game);

        // Cancelled, or a file that is gone by now: the location stays as it was.
        b.prompts.answerNext(std::nullopt);
        b.window.mnuDirectory_Click();
        QCOMPARE(b.prompts.prompts().value(1).defaultText,
                 b.gameDir() + QStringLiteral("//./quake2.exe"));
        b.locate(b.gameDir() + QStringLiteral("/gone.exe"));
        QCOMPARE(b.prompts.messages().size(), 1);
        QCOMPARE(b.window.quakeLocation(), game);
        QCOMPARE(Settings::GetSetting(Settings::DataSection, Settings::KeyQuakeLocation, {}), game);
    }

    void firstStartCancelledKeepsRunning()
    {
        test::TempSettings settings;
        tools::ListService list;
        QVERIFY2(list.listen(), qPrintable(list.errorString()));
        list.setMode(tools::ListService::Mode::NotFound);
        settings.writeIni("[Endpoints]\nServerListHost=" + list.baseUrl().toLatin1() + "\n");
        test::PromptRecorder prompts;
        test::EndRecorder ends;
        StartUpWindow window;
        window.Form_Load();
        QVERIFY(test::settle(window));
        QVERIFY(prompts.prompts().size() >= 2);
        QCOMPARE(prompts.prompts()[0].text, LocateText);
        QCOMPARE(prompts.prompts()[1].kind, ui::Prompt::Kind::OpenFile);
        QCOMPARE(ends.count(), 0);
        QVERIFY(window.quakeLocation().isEmpty());
        QVERIFY(!settings.readIni().contains("QuakeLocation"));
    }

    void launch_data()
    {
        QTest::addColumn<QStringList>("files"); // in the game folder; "*" marks a Windows build
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("closeOnStart");
        QTest::addColumn<QStringList>("expected");
        const QStringList connect = {"arg=+connect", "arg=10.0.0.3:27910"};
        QTest::newRow("closes after start") << QStringList{"quake2.exe"} << "quake2.exe" << true
                                            << QStringList{"program=quake2.exe"} + connect;
        QTest::newRow("stays open") << QStringList{"quake2.exe"} << "quake2.exe" << false
                                    << QStringList{"program=quake2.exe"} + connect;
        QTest::newRow("quake2.exe in any case wins")
            << QStringList{"QUAKE2.EXE", "yquake2"} << "yquake2" << false
            << QStringList{"program=QUAKE2.EXE"} + connect;
        QTest::newRow("native build") << QStringList{"yquake2"} << "yquake2" << false
                                      << QStringList{"program=yquake2"} + connect;
        QTest::newRow("windows build through wine")
            << QStringList{"*quake2.exe"} << "quake2.exe" << true
            << QStringList{"program=wine", "arg=GAME/quake2.exe"} + connect;
    }
    void launch()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, chosen);
        QFETCH(bool, closeOnStart);
        QFETCH(QStringList, expected);
        Bench b;
        for (const QString &f : files) {
            if (f.startsWith(QLatin1Char('*'))) {
                b.writeWindowsProgram(b.gameDir() + QLatin1Char('/') + f.mid(1));
                b.writeProgram(b.path(QStringLiteral("bin/wine")));
            } else {
                b.writeProgram(b.gameDir() + QLatin1Char('/') + f);
            }
        }
        b.locate(b.gameDir() + QLatin1Char('/') + chosen);
        b.window.mnuCloseStartup->setChecked(closeOnStart);
        b.doubleClick(2);
        QTRY_COMPARE_WITH_TIMEOUT(b.runs().size(), 1, 5000);
        expected.insert(1, QStringLiteral("cwd=") + b.gameDir());
        expected.replaceInStrings(QStringLiteral("GAME"), b.gameDir());
        QCOMPARE(b.runs().first(), expected);
        QCOMPARE(b.ends.count(), closeOnStart ? 1 : 0);
        QCOMPARE(b.prompts.messages(), QStringList());
    }

    void startFailureIsReportedAndKeepsRunning_data()
    {
        QTest::addColumn<bool>("windowsBuild");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not executable") << false << "Permission denied";
        QTest::newRow("windows build, no wine") << true << "install wine";
    }
    void startFailureIsReportedAndKeepsRunning()
    {
        QFETCH(bool, windowsBuild);
        QFETCH(QString, reason);
        Bench b;
        const QString game = b.gameDir() + QStringLiteral("/quake2.exe");
        windowsBuild ? b.writeWindowsProgram(game) : b.writeProgram(game, false);
        b.locate(game);
        b.window.mnuCloseStartup->setChecked(true);
        b.doubleClick(1);
        QCOMPARE(b.prompts.messages().size(), 1);
        QVERIFY2(b.prompts.messages()[0].contains(reason), qPrintable(b.prompts.messages()[0]));
        QCOMPARE(b.ends.count(), 0);
    }

    void unsafeAddressStartsNothing_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("blank and command") << "1.2.3.4 +exec evil.cfg";
        QTest::newRow("semicolon") << "1.2.3.4;exec evil.cfg";
        QTest::newRow("option") << "-oops";
        QTest::newRow("empty") << "";
    }
    void unsafeAddressStartsNothing()
    {
        QFETCH(QString, address);
        Bench b;
        b.locate(b.writeProgram(b.gameDir() + QStringLiteral("/quake2.exe")));
        b.window.mnuCloseStartup->setChecked(true);
        test::setCell(b.window, 2, frmTarvex::ColAddress, address);
        b.doubleClick(2);
        QCOMPARE(b.prompts.messages().size(), 1);
        QCOMPARE(b.ends.count(), 0);
        b.window.mnuCloseStartup->setChecked(false);
        b.expectOnlyLaterLaunch();
    }

    void titleRowSortsButNeverLaunches()
    {
        Bench b;
        b.locate(b.writeProgram(b.gameDir() + QStringLiteral("/quake2.exe")));
        b.doubleClick(0, 0); // before any server row was chosen
        QCOMPARE(b.names(), QStringList({"Alpha", "Beta", "Gamma"}));
        QTest::mouseClick(
            b.window.Grid1->viewport(), Qt::LeftButton, {},
            b.window.Grid1->viewport()->mapFrom(b.window.Grid1, b.window.Grid1->cellCenter(3, 0)));
        QCOMPARE(b.window.Grid1->Row(), 3);
        b.doubleClick(0, 4); // a server row is current now
        QCOMPARE(b.names(), QStringList({"Beta", "Alpha", "Gamma"}));
        QCOMPARE(b.prompts.messages(), QStringList());
        b.expectOnlyLaterLaunch();
    }

    void noUsableLocationAsksForOne_data()
    {
        QTest::addColumn<bool>("locatedBefore");
        QTest::addColumn<bool>("locateNow");
        QTest::newRow("never located, cancelled") << false << false;
        QTest::newRow("location gone, cancelled") << true << false;
        QTest::newRow("location gone, located again") << true << true;
    }
    void noUsableLocationAsksForOne()
    {
        QFETCH(bool, locatedBefore);
        QFETCH(bool, locateNow);
        Bench b;
        const QString game = b.writeProgram(b.gameDir() + QStringLiteral("/quake2.exe"));
        if (locatedBefore) {
            b.locate(b.writeProgram(b.gameDir() + QStringLiteral("/old-quake2")));
            QFile::remove(b.gameDir() + QStringLiteral("/old-quake2"));
            b.prompts.clear();
        }
        b.prompts.answerNext(std::nullopt); // closes the message
        b.prompts.answerNext(locateNow ? std::optional<QString>(game) : std::nullopt);
        b.doubleClick(1);
        QCOMPARE(b.prompts.messages(), QStringList{LocateText});
        QCOMPARE(b.prompts.prompts().value(1).kind, ui::Prompt::Kind::OpenFile);
        if (locateNow) {
            QTRY_COMPARE_WITH_TIMEOUT(b.runs().size(), 1, 5000);
            QCOMPARE(b.window.quakeLocation(), game);
        } else {
            QVERIFY(b.runs().isEmpty()); // there is no game it could have started
        }
    }

    void pressOnTitleSortsByColumn_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("yBelowTitle"); // twips below the title row's lower edge
        QTest::addColumn<QStringList>("names");
        const QStringList unsorted = {"Gamma", "Alpha", "Beta"};
        QTest::newRow("10: column 0") << 10.0 << -100 << QStringList{"Alpha", "Beta", "Gamma"};
        QTest::newRow("2500 edge: column 0")
            << 2500.0 << -100 << QStringList{"Alpha", "Beta", "Gamma"};
        QTest::newRow("2510: column 1") << 2510.0 << -100 << QStringList{"Gamma", "Beta", "Alpha"};
        QTest::newRow("players by value") << 5500.0 << 0 << QStringList{"Beta", "Gamma", "Alpha"};
        QTest::newRow("ping: numbers, then text")
            << 7500.0 << -100 << QStringList{"Beta", "Alpha", "Gamma"};
        QTest::newRow("right of last column") << 7890.0 << -100 << unsorted;
        QTest::newRow("data row") << 10.0 << 15 << unsorted;
    }
    void pressOnTitleSortsByColumn()
    {
        QFETCH(double, x);
        QFETCH(int, yBelowTitle);
        QFETCH(QStringList, names);
        Bench b;
        b.window.Grid1_MouseDown(1, 0, x, b.window.Grid1->RowHeight() + yBelowTitle);
        QCOMPARE(b.names(), names);
    }
};

QTEST_MAIN(LaunchTest)
#include "tst_launch.moc"
