// The list parsers, the address checks and the merge; each fetcher against a loopback
// stand-in (HTTP lists, a master with its broken answers, favourites).
#include "core/net/HttpTransfer.h"
#include "core/sources/Merge.h"
#include "core/sources/SourceFetch.h"
#include "core/sources/SourceSettings.h"
#include "support/TestSupport.h"
#include "support/Waits.h"
#include "ListService.h"
#include "MasterResponder.h"

#include <QHostAddress>
#include <QTest>
#include <QtEndian>

using namespace tarvex;
using namespace tarvex::sources;

namespace {
QByteArray record(quint32 ip, quint16 port)
{
    char r[6];
    qToBigEndian(ip, r);
    qToBigEndian(port, r + 4);
    return QByteArray(r, 6);
}
QStringList texts(const QList<ServerAddress> &list)
{
    QStringList out;
    for (const ServerAddress &a : list)
        out.append(a.toString());
    return out;
}
QStringList texts(const QList<ListedServer> &rows)
{
    QStringList out;
    for (const ListedServer &r : rows)
        out.append(r.address);
    return out;
}
} // namespace

class TestListSources : public QObject
{
    Q_OBJECT

private slots:
    void textList_data();
    void textList();
    void binaryList();
    void masterReply();
    void merge();
    void settingsRoundTrip();
    void addressScopes();
    void httpLists();
    void master();
};

void TestListSources::textList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<int>("refused");
    const QStringList two{"1.2.3.4:27910", "5.6.7.8:27911"};
    QTest::newRow("LF") << QByteArray("1.2.3.4:27910\n5.6.7.8:27911\n") << two << 0;
    QTest::newRow("CR LF, no final newline")
        << QByteArray("1.2.3.4:27910\r\n5.6.7.8:27911") << two << 0;
    QTest::newRow("blank, comments, info after the address")
        << QByteArray("# list\n\n1.2.3.4:27910 \\hostname\\x\n\r\n5.6.7.8:27911\t\n") << two << 0;
    QTest::newRow("duplicates kept once")
        << QByteArray("1.2.3.4:27910\n1.2.3.4:27910\n5.6.7.8:27911\n") << two << 0;
    QTest::newRow("hostile entries")
        << QByteArray("1.2.3.4:80\n0.0.0.0:27910\n255.255.255.255:27910\n10.0.0.255:27910\n"
                      "224.0.0.1:27910\n240.1.1.1:27910\n1.2.3.4:0\n1.2.3.4:65536\n1.2.3:27910\n"
                      "01.2.3.4.5:27910\n1.2.3.4\n-1.2.3.4:27910\nexample.org:27910\n1.2.3.4:"
                      "27910\n5.6.7.8:27911\n")
        << two << 13;
    QTest::newRow("10 MB of junk") << QByteArray(10 * 1024 * 1024, '\x9c') << QStringList() << 1;
    QTest::newRow("empty") << QByteArray() << QStringList() << 0;
}

void TestListSources::textList()
{
    QFETCH(QByteArray, body);
    const ListResult r = parseTextList(body);
    QFETCH(QStringList, addresses);
    QFETCH(int, refused);
    QCOMPARE(texts(r.addresses), addresses);
    QCOMPARE(r.refused, refused);
}

void TestListSources::binaryList()
{
    const QByteArray good = record(0x01020304, 27910) + record(0x05060708, 27911);
    QCOMPARE(texts(parseBinaryList(good).addresses),
             (QStringList{"1.2.3.4:27910", "5.6.7.8:27911"}));
    // A trailing partial record is left out; hostile records are refused.
    QCOMPARE(parseBinaryList(good + "\x01\x02\x03").addresses.size(), 2);
    const ListResult hostile = parseBinaryList(record(0, 27910) + record(0xffffffff, 27910)
                                               + record(0x01020304, 53) + good);
    QCOMPARE(hostile.addresses.size(), 2);
    QCOMPARE(hostile.refused, 3);
    // More than the cap: the rest is left out and said so.
    QByteArray many;
    for (quint32 i = 0; i < quint32(MaxListEntries) + 10; ++i)
        many += record(0x0a000001 + i * 4, 27910);
    const ListResult capped = parseBinaryList(many);
    QCOMPARE(capped.addresses.size(), MaxListEntries);
    QVERIFY(capped.capped);
}

void TestListSources::masterReply()
{
    const QHostAddress master(QStringLiteral("127.0.0.1"));
    const QByteArray answer =
        QByteArray("\xff\xff\xff\xffservers ", 12) + record(0x7f000002, 27910);
    const auto ok = parseMasterReply(answer, master, 27900, master, 27900);
    QVERIFY(ok);
    QCOMPARE(texts(ok->addresses), QStringList{"127.0.0.2:27910"});
    QVERIFY(!parseMasterReply(answer, master, 27901, master, 27900)); // wrong port
    QVERIFY(
        !parseMasterReply(answer, QHostAddress(QStringLiteral("127.0.0.9")), 27900, master, 27900));
    QVERIFY(
        !parseMasterReply(QByteArray("\xff\xff\xff\xffprint\n", 10), master, 27900, master, 27900));
    QVERIFY(parseMasterReply(answer.left(12), master, 27900, master, 27900)->addresses.isEmpty());
}

void TestListSources::merge()
{
    const QList<ListedServer> page{pageRow("Alpha", "1.2.3.4", "3/8", "q2dm1"),
                                   pageRow("Named", "q2.example.org:27910", "1/8", "base1"),
                                   pageRow("Alpha again", "1.2.3.4:27910", "3/8", "q2dm1")};
    QVERIFY(page[0].target && page[0].target->port == 27910);
    QVERIFY(!page[1].target); // host names are never looked up
    const QList<ServerAddress> text = parseTextList("1.2.3.4:27910\n5.6.7.8:27911\n").addresses;
    const QList<ServerAddress> master = parseTextList("5.6.7.8:27911\n9.9.9.9:27910\n").addresses;
    const QList<ListedServer> merged = mergeSources({page, addressRows(text), addressRows(master)});
    // The page's rows all stay as written; later sources add only new addresses.
    QCOMPARE(texts(merged),
             (QStringList{"1.2.3.4", "q2.example.org:27910", "1.2.3.4:27910", "5.6.7.8:27911",
                          "9.9.9.9:27910"}));
    QCOMPARE(merged[0].name, QStringLiteral("Alpha"));
}

void TestListSources::settingsRoundTrip()
{
    test::TempSettings settings;
    // No [Sources]: the page alone when its host is set, else the built-in defaults.
    settings.writeIni("[Endpoints]\nServerListHost=http://127.0.0.1:1\n");
    QVERIFY(pageOnly(loadSources()));
    const QList<SourceEntry> entries{
        {SourceKind::TextList, "http://127.0.0.1:1/?raw=1", true},
        {SourceKind::Master, "127.0.0.1:27900", false},
        {SourceKind::Favourites, "1.2.3.4:27910, 5.6.7.8:27911", true}};
    QVERIFY(saveSources(entries));
    QCOMPARE(loadSources(), entries);
    QVERIFY(saveSources({}));
    QVERIFY(loadSources().isEmpty()); // an emptied list stays empty
    QCOMPARE(parseSourceList("page=|text=http://a/?raw=1|bogus=x").size(), 2);
    QVERIFY(checkEntry({SourceKind::Favourites, "1.2.3.4:80", true}));
    QVERIFY(checkEntry({SourceKind::TextList, "ftp://a/", true}));
    QVERIFY(checkEntry({SourceKind::Master, "a b", true}));
    QVERIFY(!checkEntry({SourceKind::Master, "master.example.org", true}));

    // Booleans read as every other setting; what cannot be read is reported and left off;
    // a size that is no count hides nothing.
    settings.writeIni("[Sources]\n1\\kind=text\n1\\address=http://a/1\n1\\enabled=off\n"
                      "2\\kind=text\n2\\address=http://a/2\n2\\enabled=0\n"
                      "3\\kind=text\n3\\address=http://a/3\n3\\enabled=true\nsize=-1\n");
    QStringList problems;
    const QList<SourceEntry> read = loadSources(&problems);
    QCOMPARE(read.size(), 3);
    QCOMPARE(read[0].enabled, false);
    QCOMPARE(read[1].enabled, false);
    QCOMPARE(read[2].enabled, true);
    QCOMPARE(problems.size(), 2);
    QVERIFY2(problems[0].contains("size=-1"), qPrintable(problems[0]));
    QVERIFY2(problems[1].contains("enabled=off"), qPrintable(problems[1]));
}

// A list names only addresses no more private than its own host.
void TestListSources::addressScopes()
{
    QCOMPARE(scopeOf(0x7f000001), AddressScope::Loopback);
    for (quint32 ip : {0x0a000001u, 0xac1f0001u, 0xc0a80101u, 0xa9fe0001u, 0x64400001u})
        QCOMPARE(scopeOf(ip), AddressScope::Private);
    for (quint32 ip : {0xac200001u, 0x08080808u, 0x64800001u})
        QCOMPARE(scopeOf(ip), AddressScope::Public);
    QVERIFY(!mayName(AddressScope::Public, 0xc0a80101u));
    QVERIFY(!mayName(AddressScope::Public, 0x7f000001u));
    QVERIFY(mayName(AddressScope::Private, 0xc0a80101u));
    QVERIFY(!mayName(AddressScope::Private, 0x7f000001u));
    QVERIFY(mayName(AddressScope::Loopback, 0x0a000001u));
}

void TestListSources::httpLists()
{
    tools::ListService service;
    QVERIFY(service.listen());
    service.setDocument("/?raw=1", "127.0.0.2:27910\r\n# c\n127.0.0.3:27910\n");
    service.setDocument("/?raw=2", record(0x7f000004, 27910) + "\x7f");
    const FetchResult text =
        test::fetchSourceNow({SourceKind::TextList, service.baseUrl() + "/?raw=1", true});
    QVERIFY(text.ok);
    QCOMPARE(texts(text.rows), (QStringList{"127.0.0.2:27910", "127.0.0.3:27910"}));
    const FetchResult binary =
        test::fetchSourceNow({SourceKind::BinaryList, service.baseUrl() + "/?raw=2", true});
    QCOMPARE(texts(binary.rows), QStringList{"127.0.0.4:27910"});
    service.setMode(tools::ListService::Mode::NotFound);
    const FetchResult missing =
        test::fetchSourceNow({SourceKind::TextList, service.baseUrl() + "/?raw=1", true});
    QVERIFY(!missing.ok);
    QVERIFY(!missing.error.isEmpty());
    const FetchResult fav = test::fetchSourceNow(
        {SourceKind::Favourites, "127.0.0.5:27910 127.0.0.5:27910,127.0.0.6:27911", true});
    QCOMPARE(texts(fav.rows), (QStringList{"127.0.0.5:27910", "127.0.0.6:27911"}));
}

void TestListSources::master()
{
    UdpTimings fast;
    fast.masterWaitMs = 300;
    struct Case
    {
        tools::MasterResponder::Mode mode;
        bool ok;
        int queries;
    };
    using Mode = tools::MasterResponder::Mode;
    for (const Case c : {Case{Mode::Normal, true, 1}, Case{Mode::FirstSilent, true, 2},
                         Case{Mode::Silent, false, 2}, Case{Mode::WrongPort, false, 2},
                         Case{Mode::Junk, false, 2}}) {
        tools::MasterResponder master;
        QVERIFY(master.listen());
        master.setRecords(tools::MasterResponder::records({"127.0.0.2:27910", "127.0.0.3:80"}));
        master.setMode(c.mode);
        const FetchResult r = test::fetchSourceNow(
            {SourceKind::Master, QStringLiteral("127.0.0.1:%1").arg(master.port()), true}, fast);
        QCOMPARE(r.ok, c.ok);
        QCOMPARE(master.queryCount(), c.queries);
        if (c.ok) {
            QCOMPARE(texts(r.rows), QStringList{"127.0.0.2:27910"});
            QCOMPARE(r.refused, 1);
        }
    }
}

QTEST_GUILESS_MAIN(TestListSources)
#include "tst_listsources.moc"
