#include "core/browser/Module1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvex;

class Module1Test : public QObject
{
    Q_OBJECT

private slots:
    // The stored location is the chosen file's absolute, cleaned path; a link stays a
    // link, so a game folder reached through one keeps its own name.
    void shortPathOf()
    {
        QTemporaryDir dir;
        const QString root = QDir(dir.path()).canonicalPath();
        QVERIFY(QDir(root).mkpath(QStringLiteral("Quake 2/sub")));
        QFile game(root + QStringLiteral("/Quake 2/quake2.exe"));
        QVERIFY(game.open(QIODevice::WriteOnly));
        game.close();
        QVERIFY(QFile::link(root + QStringLiteral("/Quake 2"), root + QStringLiteral("/link")));

        QCOMPARE(Module1::ShortPathOf(root + QStringLiteral("/Quake 2/sub/..//./quake2.exe")),
                 root + QStringLiteral("/Quake 2/quake2.exe"));
        QCOMPARE(Module1::ShortPathOf(root + QStringLiteral("/link/quake2.exe")),
                 root + QStringLiteral("/link/quake2.exe"));

        for (const QString &missing :
             {QString(), root + QStringLiteral("/Quake 2/gone.exe"),
              root + QStringLiteral("/Quake 2"),
              root + QStringLiteral("/Quake 2/quake2.exe") + QChar(u'\0') + QStringLiteral("x")})
            QVERIFY2(!Module1::ShortPathOf(missing), qPrintable(missing));
    }

    void plainAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("plain");
        QTest::newRow("address") << "192.168.0.10" << true;
        QTest::newRow("address and port") << "192.168.0.10:27910" << true;
        QTest::newRow("name and port") << "q2-dm.example.org:27911" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank and command") << "1.2.3.4 +exec evil.cfg" << false;
        QTest::newRow("plus") << "1.2.3.4+exec" << false;
        QTest::newRow("semicolon") << "1.2.3.4;exec evil.cfg" << false;
        QTest::newRow("shell list") << "1.2.3.4;rm -rf ~" << false;
        QTest::newRow("substitution") << "$(touch pwned)" << false;
        QTest::newRow("backquote") << "`id`" << false;
        QTest::newRow("option") << "-oProxyCommand=x" << false;
        QTest::newRow("trailing blank") << "1.2.3.4 " << false;
        QTest::newRow("line feed") << "1.2.3.4\n" << false;
        QTest::newRow("empty port") << "1.2.3.4:" << false;
        QTest::newRow("port 0") << "1.2.3.4:0" << false;
        QTest::newRow("port too big") << "1.2.3.4:65536" << false;
        QTest::newRow("signed port") << "1.2.3.4:+1" << false;
        QTest::newRow("two colons") << "1.2.3.4:1:2" << false;
        QTest::newRow("non-ASCII digit") << QStringLiteral("1.2.3.\u0664") << false;
    }
    void plainAddress()
    {
        QFETCH(QString, address);
        QFETCH(bool, plain);
        QCOMPARE(Module1::IsPlainAddress(address), plain);
    }
};

QTEST_GUILESS_MAIN(Module1Test)
#include "tst_module1.moc"
