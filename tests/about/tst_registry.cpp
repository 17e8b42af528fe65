// Reading registry values into text: the buffer rules and the key's lifetime.
#include "TestRegistry.h"

#include "core/about/Registry.h"

#include <QTest>

using tarvex::about::GetKeyValue;
using tarvex::about::Registry;
using tarvex::test::TestRegistry;

namespace {
const QString Key = QStringLiteral("SOFTWARE\\Vendor\\Tool");
const QString Name = QStringLiteral("PATH");
constexpr int NoValue = -1;
constexpr int NoKey = -2;
} // namespace

class TestGetKeyValue : public QObject
{
    Q_OBJECT

private slots:
    void getKeyValue_data();
    void getKeyValue();
    void oversizedClaimIsRefused();
};

void TestGetKeyValue::getKeyValue_data()
{
    QTest::addColumn<int>("type"); // or NoValue / NoKey
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("passed");
    QTest::addColumn<bool>("expectedResult");
    QTest::addColumn<QString>("expectedValue");

    const QString stale = QStringLiteral("stale");
    QTest::newRow("text with its terminating zero")
        << 1 << QByteArray("/usr/bin/hardinfo\0", 18) << stale << true
        << QStringLiteral("/usr/bin/hardinfo");
    QTest::newRow("text without a terminating zero is used whole")
        << 1 << QByteArray("/usr/bin/hardinfo") << stale << true
        << QStringLiteral("/usr/bin/hardinfo");
    QTest::newRow("only the last zero is cut")
        << 1 << QByteArray("ab\0\0", 4) << stale << true << QString::fromLatin1("ab\0", 3);
    QTest::newRow("an empty text stored with its zero")
        << 1 << QByteArray("\0", 1) << stale << true << QString();
    QTest::newRow("text filling the buffer exactly")
        << 1 << QByteArray(1024, 'a') << stale << true << QString(1024, QLatin1Char('a'));
    QTest::newRow("text one byte longer than the buffer")
        << 1 << QByteArray(1024, 'a') + '\0' << stale << false << QString();
    QTest::newRow("number, last byte first")
        << 4 << QByteArray("\x78\x56\x34\x12", 4) << stale << true << QStringLiteral("&h12345678");
    QTest::newRow("number bytes take two digits each")
        << 4 << QByteArray("\x0a\x0b\x0c\x0d", 4) << stale << true << QStringLiteral("&h0D0C0B0A");
    QTest::newRow("number with a zero top byte loses it to the cut")
        << 4 << QByteArray("\xef\xcd\xab\x00", 4) << stale << true << QStringLiteral("&hABCDEF");
    QTest::newRow("another type leaves the value as passed")
        << 2 << QByteArray("%SystemRoot%\\msinfo32.exe\0", 26) << stale << true << stale;
    QTest::newRow("a value without any data") << 1 << QByteArray() << stale << false << QString();
    QTest::newRow("a missing value") << NoValue << QByteArray() << stale << false << QString();
    QTest::newRow("a missing key") << NoKey << QByteArray() << stale << false << QString();
}

void TestGetKeyValue::getKeyValue()
{
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, passed);
    QFETCH(bool, expectedResult);
    QFETCH(QString, expectedValue);

    TestRegistry registry;
    if (type >= 0)
        registry.setValue(Key, Name, std::uint32_t(type), data);
    else if (type == NoValue)
        registry.addKey(Key);

    QString value = passed;
    QCOMPARE(GetKeyValue(registry, Registry::HKEY_LOCAL_MACHINE, Key, Name, value), expectedResult);
    QCOMPARE(value, expectedValue);

    // One open asking for all access, and one close whatever happened.
    QCOMPARE(registry.accesses(), QList<std::uint32_t>{0x2003F});
    QCOMPARE(registry.closed().size(), 1);
    if (type != NoKey)
        QCOMPARE(registry.closed(), registry.opened());
}

void TestGetKeyValue::oversizedClaimIsRefused()
{
    // A store that reports more bytes than the buffer holds must not be read past it.
    TestRegistry registry;
    registry.setValue(Key, Name, Registry::REG_SZ, QByteArray("short\0", 6));
    registry.claimSize(4096);
    QString value = QStringLiteral("stale");
    QVERIFY(!GetKeyValue(registry, Registry::HKEY_LOCAL_MACHINE, Key, Name, value));
    QCOMPARE(value, QString());
    QCOMPARE(registry.closed(), registry.opened());
}

QTEST_GUILESS_MAIN(TestGetKeyValue)
#include "tst_registry.moc"
