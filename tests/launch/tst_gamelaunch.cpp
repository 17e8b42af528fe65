// Choosing what to start for a double-click, without windows.
#include "core/browser/GameLaunch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace tarvex;

class GameLaunchTest : public QObject
{
    Q_OBJECT

private slots:
    // kind: what the chosen file is; a FIFO or folder is refused without being opened
    // (opening a FIFO would wait for a writer).
    void plan_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("wine");
        QTest::addColumn<QStringList>("command"); // empty: refused
        QTest::newRow("native") << "elf"
                                << "/usr/bin/wine" << QStringList{"@game", "+connect", "1.2.3.4"};
        QTest::newRow("Windows, wine")
            << "mz"
            << "/usr/bin/wine" << QStringList{"/usr/bin/wine", "@game", "+connect", "1.2.3.4"};
        QTest::newRow("Windows, no wine") << "mz"
                                          << "" << QStringList{"@game", "+connect", "1.2.3.4"};
        QTest::newRow("FIFO") << "fifo"
                              << "/usr/bin/wine" << QStringList{};
        QTest::newRow("folder") << "dir"
                                << "/usr/bin/wine" << QStringList{};
    }
    void plan()
    {
        QFETCH(QString, kind);
        QFETCH(QString, wine);
        QFETCH(QStringList, command);
        QTemporaryDir dir;
        const QString game = dir.filePath(QStringLiteral("yquake2"));
        if (kind == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(game).constData(), 0600) == 0);
        } else if (kind == "dir") {
            QVERIFY(QDir().mkdir(game));
        } else {
            QFile f(game);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kind == "mz" ? "MZ\x90"
                                 : "\x7f"
                                   "ELF");
        }
        QCOMPARE(GameLaunch::isWindowsProgram(game), kind == "mz");
        const GameLaunch::Launch launch = GameLaunch::plan(game, QStringLiteral("1.2.3.4"), wine);
        QCOMPARE(launch.folder, dir.path() + '/');
        if (command.isEmpty()) {
            QVERIFY2(launch.error.contains(QLatin1String("is not a regular file")),
                     qPrintable(launch.error));
            QVERIFY(launch.program.isEmpty());
            return;
        }
        command.replaceInStrings(QStringLiteral("@game"), game);
        QVERIFY(launch.error.isEmpty());
        QCOMPARE(QStringList{launch.program} + launch.arguments, command);
        QCOMPARE(launch.wineMissing, kind == "mz" && wine.isEmpty());
    }

    // quake2.exe in the game's folder wins in any letter case; a FIFO by that name
    // does not count.
    void gameExecutableInTheFolder()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + '/';
        const QString chosen = folder + "other";
        QVERIFY(::mkfifo(QFile::encodeName(folder + "quake2.exe").constData(), 0600) == 0);
        QCOMPARE(GameLaunch::gameExecutable(folder, chosen), chosen);
        QFile f(folder + "QUAKE2.EXE");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QCOMPARE(GameLaunch::gameExecutable(folder, chosen), folder + "QUAKE2.EXE");
    }
};

QTEST_MAIN(GameLaunchTest)
#include "tst_gamelaunch.moc"
