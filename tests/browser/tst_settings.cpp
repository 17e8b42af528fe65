#include "core/browser/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace tarvex;

class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void textToBool_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // 1 true, 0 false, -1 unreadable
        QTest::newRow("True") << "True" << 1;
        QTest::newRow("TRUE") << "TRUE" << 1;
        QTest::newRow("false") << "false" << 0;
        QTest::newRow("fAlSe") << "fAlSe" << 0;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("-1") << "-1" << 1;
        QTest::newRow("2.5") << "2.5" << 1;
        QTest::newRow("0.0 with blanks") << " 0.0 " << 0;
        QTest::newRow("yes") << "yes" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("True with blank") << "True " << -1;
        QTest::newRow("hex") << "0x1" << -1;
    }
    void textToBool()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const std::optional<bool> value = Settings::textToBool(text);
        QCOMPARE(value.has_value() ? int(*value) : -1, expected);
    }

    void storedTextsRoundTrip()
    {
        test::TempSettings settings;
        QVERIFY(Settings::SaveSetting(Settings::DataSection, Settings::KeyPingOnStartup,
                                      Settings::boolToText(false)));
        QVERIFY(Settings::SaveSetting(Settings::DataSection, Settings::KeyQuakeLocation,
                                      QStringLiteral("/games/quake 2, final/quake2")));
        const QByteArray ini = settings.readIni();
        QVERIFY2(ini.contains("[Data]"), ini);
        QVERIFY2(ini.contains("mnuPing=False"), ini);
        QCOMPARE(Settings::GetBoolSetting(Settings::DataSection, Settings::KeyPingOnStartup, true),
                 false);
        QCOMPARE(Settings::GetSetting(Settings::DataSection, Settings::KeyQuakeLocation, QString()),
                 QStringLiteral("/games/quake 2, final/quake2"));
    }

    void storedValuesAsWrittenByHand_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("ping");
        QTest::addColumn<bool>("close");
        QTest::newRow("absent") << QByteArray("[Data]\n") << true << true;
        QTest::newRow("lower case")
            << QByteArray("[Data]\nmnuPing=false\nmnuCloseStartup=TRUE\n") << false << true;
        QTest::newRow("numbers") << QByteArray("[Data]\nmnuPing=0\nmnuCloseStartup=7\n") << false
                                 << true;
        QTest::newRow("unreadable")
            << QByteArray("[Data]\nmnuPing=maybe\nmnuCloseStartup=\n") << true << true;
        QTest::newRow("not INI at all") << QByteArray("\x7f"
                                                      "ELF\x01\x02\x00\xff garbage ===\n[[[")
                                        << true << true;
    }
    void storedValuesAsWrittenByHand()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, ping);
        QFETCH(bool, close);
        test::TempSettings settings;
        settings.writeIni(ini);
        QCOMPARE(Settings::GetBoolSetting(Settings::DataSection, Settings::KeyPingOnStartup, true),
                 ping);
        QCOMPARE(Settings::GetBoolSetting(Settings::DataSection, Settings::KeyCloseOnStartup, true),
                 close);
    }

    void unwritableStoreIsReported()
    {
        test::TempSettings settings;
        // A plain file where the settings folder should be: nothing can be written.
        QFile blocker(settings.dir() + QStringLiteral("/Tarvex"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!Settings::SaveSetting(Settings::DataSection, Settings::KeyPingOnStartup,
                                       QStringLiteral("False")));
    }

    void endpointHosts()
    {
        test::TempSettings settings;
        QCOMPARE(Settings::endpointUrl(Settings::KeyServerListHost, QStringLiteral("/q2servers")),
                 QUrl(QStringLiteral(TARVEX_DEFAULT_SERVER_LIST_HOST "/q2servers")));
        settings.writeIni("[Endpoints]\nServerListHost=http://127.0.0.1:8123\n");
        QCOMPARE(Settings::endpointUrl(Settings::KeyServerListHost, QStringLiteral("/q2servers")),
                 QUrl(QStringLiteral("http://127.0.0.1:8123/q2servers")));
        QCOMPARE(Settings::endpointProblem(Settings::KeyServerListHost), QString());
        // A stored host that cannot be used is reported, never replaced by the default.
        const struct
        {
            const char *stored;
            const char *why;
        } unusable[] = {
            {"not a url", "not a valid address"},
            {"http://", "names no host"},
            {"http://127.0.0.1:99999", "not a valid address"},
            {"javascript:alert(1)", "only http and https"},
            {"file://localhost/etc/passwd", "only http and https"},
            {"ftp://127.0.0.1", "only http and https"},
        };
        for (const auto &c : unusable) {
            settings.writeIni(QByteArray("[Endpoints]\nAddServerHost=") + c.stored + "\n");
            QVERIFY2(
                Settings::endpointUrl(Settings::KeyAddServerHost, QStringLiteral("/x")).isEmpty(),
                c.stored);
            const QString problem = Settings::endpointProblem(Settings::KeyAddServerHost);
            QVERIFY2(problem.contains(QLatin1String(c.why))
                         && problem.contains(QLatin1String(c.stored)),
                     qPrintable(problem));
        }
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
