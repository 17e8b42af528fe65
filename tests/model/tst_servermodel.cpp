// The server model on its own: updates by key, a server listed by two sources or at
// two ports, the sorting view with silent servers last both ways, 65,536 records.
#include "core/model/ServerModel.h"
#include "core/status/StatusReply.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

using namespace tarvex;
using namespace tarvex::model;

namespace {

status::ServerStatus answer(const QByteArray &info, const QByteArray &players = {})
{
    const auto s = status::parseStatusReply("\xff\xff\xff\xffprint\n" + info + "\n" + players);
    Q_ASSERT(s);
    return *s;
}

ServerKey key(quint32 last, quint16 port = 27910)
{
    return ServerKey::fromAddress(0x7f000000u | last, port);
}

QString cell(const QAbstractItemModel &m, int row, int column)
{
    return m.index(row, column).data().toString();
}

QStringList column(const QAbstractItemModel &m, int column)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << cell(m, r, column);
    return out;
}

} // namespace

class TestServerModel : public QObject
{
    Q_OBJECT

private slots:
    void updatesByKey();
    void twoSourcesOneRow();
    void twoPortsTwoRows();
    void silentServersSortLast();
    void manyRecords();
    void answerKeptAsItCame();
    void historyColumns();
};

void TestServerModel::updatesByKey()
{
    ServerModel m;
    m.upsertListed(key(1), "page", {"Page One", "127.0.0.1:27910", "3/16", "base1", true});
    m.upsertListed(key(2), "master", {{}, "127.0.0.2:27910", {}, {}, false});
    const ServerKey named = ServerKey::fromAddressText(u"q2.example.test:27910");
    QVERIFY(!named.isNumeric());
    m.upsertListed(named, "page", {"Named", "q2.example.test:27910", "0/8", "q2dm1", true});
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(m.rowOf(named), 2);

    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    QVERIFY(m.setAsking(key(2)));
    QVERIFY(m.setAnswer(key(2),
                        answer("\\hostname\\Live Two\\mapname\\q2dm8\\maxclients\\16\\dmflags\\0",
                               "5 20 \"Bob\"\n-1 999 \"Al\"\n"),
                        42, 1000));
    QCOMPARE(changed.last().at(0).toModelIndex().row(), 1);
    // Another source's server takes the live name; the page's row keeps the page's.
    QVERIFY(m.setAnswer(key(1), answer("\\hostname\\Live One\\mapname\\q2dm2\\maxclients\\8"), 7));
    QCOMPARE(column(m, ServerModel::ColName), QStringList({"Page One", "Live Two", "Named"}));
    QCOMPARE(column(m, ServerModel::ColPlayers), QStringList({"0/8", "2/16", "0/8"}));
    QCOMPARE(column(m, ServerModel::ColMap), QStringList({"q2dm2", "q2dm8", "q2dm1"}));

    const ServerRecord &r = m.record(1);
    QCOMPARE(r.state, ServerState::Answered);
    QCOMPARE(r.queryRttMs, 42);
    QCOMPARE(r.answeredAtMs, 1000);
    QCOMPARE(r.maxClients, 16);
    QCOMPARE(r.playerCount(), 2);
    QCOMPARE(r.players().at(1).name, QString("Al"));
    QCOMPARE(r.players().at(1).frags, -1);
    QCOMPARE(r.players().at(1).ping, 999);
    QCOMPARE(r.rules().size(), 4);
    QCOMPARE(r.rules().at(3), Rule("dmflags", "0"));

    // Failures mark the players cell after the listed count, or alone.
    QVERIFY(m.setFailed(key(1), true));
    QVERIFY(m.setFailed(named, false));
    QVERIFY(m.setFailed(key(2), false));
    QCOMPARE(column(m, ServerModel::ColPlayers),
             QStringList({"3/16 (down)", "(no answer)", "0/8 (no answer)"}));
    QCOMPARE(cell(m, 0, ServerModel::ColMap), QString("base1"));

    QVERIFY(m.setPing(key(1), 12));
    QVERIFY(m.setPingError(named, "Timed out"));
    QCOMPARE(column(m, ServerModel::ColPing), QStringList({"12", "", "Timed out"}));

    // A server nobody listed changes nothing.
    changed.clear();
    QVERIFY(!m.setAnswer(key(9), answer("\\hostname\\x"), 1));
    QVERIFY(!m.setPing(key(9), 1));
    QVERIFY(!m.setFailed(key(1, 1), true));
    QCOMPARE(changed.size(), 0);
    QCOMPARE(m.rowCount(), 3);
    QCOMPARE(m.index(2, 0).data(ServerModel::KeyRole).value<ServerKey>(), named);
}

void TestServerModel::twoSourcesOneRow()
{
    // The page's texts win whichever source comes first; both sources are kept.
    for (bool pageFirst : {true, false}) {
        ServerModel m;
        const ListedTexts page{"Page", "127.0.0.1:27910", "4/16", "q2dm1", true};
        const ListedTexts bare{{}, "127.0.0.1:27910", {}, {}, false};
        if (pageFirst) {
            m.upsertListed(key(1), "page", page);
            m.upsertListed(key(1), "master", bare);
        } else {
            m.upsertListed(key(1), "master", bare);
            m.upsertListed(key(1), "page", page);
        }
        m.upsertListed(key(1), "master", bare);
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(m.record(0).sources.size(), 2);
        QCOMPARE(cell(m, 0, ServerModel::ColName), QString("Page"));
        QCOMPARE(cell(m, 0, ServerModel::ColPlayers), QString("4/16"));
    }
    // A bare dotted page address is the default port's server.
    QCOMPARE(ServerKey::fromAddressText(u"127.0.0.1"), key(1));
    QCOMPARE(ServerKey::fromAddressText(u"127.0.0.1:27910").toString(), QString("127.0.0.1:27910"));
}

void TestServerModel::twoPortsTwoRows()
{
    ServerModel m;
    m.upsertListed(key(1, 27910), "master", {{}, "127.0.0.1:27910", {}, {}, false});
    m.upsertListed(key(1, 27911), "master", {{}, "127.0.0.1:27911", {}, {}, false});
    QCOMPARE(m.rowCount(), 2);
    QVERIFY(m.setAnswer(key(1, 27911), answer("\\hostname\\Second\\maxclients\\4"), 3));
    QVERIFY(m.setPing(key(1, 27910), 5));
    QCOMPARE(m.record(0).state, ServerState::NotAsked);
    QCOMPARE(cell(m, 0, ServerModel::ColName), QString());
    QCOMPARE(cell(m, 1, ServerModel::ColName), QString("Second"));
    QCOMPARE(cell(m, 1, ServerModel::ColPing), QString());
    QVERIFY(ServerKey::packAddress(1, 2) != ServerKey::packAddress(2, 1));
}

void TestServerModel::silentServersSortLast()
{
    ServerModel m;
    const QList<int> players{3, 10, 1, 7};
    for (int i = 0; i < 6; ++i)
        m.upsertListed(key(i + 1), "master", {{}, key(i + 1).toString(), {}, {}, false});
    for (int i = 0; i < players.size(); ++i) {
        QByteArray lines;
        for (int p = 0; p < players[i]; ++p)
            lines += "0 0 \"p\"\n";
        m.setAnswer(key(i + 1),
                    answer("\\hostname\\S" + QByteArray::number(i) + "\\maxclients\\16", lines), i);
        m.setPing(key(i + 1), 100 - players[i]);
    }
    m.setFailed(key(5), false);
    m.setFailed(key(6), true);
    m.setPing(key(6), 1); // pinged but silent to the query: still last

    ServerSortProxy proxy;
    proxy.setSourceModel(&m);
    proxy.sort(ServerModel::ColPlayers, Qt::AscendingOrder);
    QCOMPARE(column(proxy, ServerModel::ColPlayers).mid(0, 4),
             QStringList({"1/16", "3/16", "7/16", "10/16"}));
    QCOMPARE(proxy.index(4, 0).data(ServerModel::KeyRole).value<ServerKey>().ip & 0xff, 5u);
    proxy.sort(ServerModel::ColPlayers, Qt::DescendingOrder);
    QCOMPARE(column(proxy, ServerModel::ColPlayers),
             QStringList({"10/16", "7/16", "3/16", "1/16", "(no answer)", "(down)"}));
    // Numbers, not texts: 90 before 100 ascending; silent last both ways.
    proxy.sort(ServerModel::ColPing, Qt::AscendingOrder);
    QCOMPARE(column(proxy, ServerModel::ColPing).mid(0, 4), QStringList({"90", "93", "97", "99"}));
    proxy.sort(ServerModel::ColPing, Qt::DescendingOrder);
    QCOMPARE(column(proxy, ServerModel::ColPing).mid(0, 4), QStringList({"99", "97", "93", "90"}));
    for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        proxy.sort(ServerModel::ColName, order);
        const QStringList names = column(proxy, ServerModel::ColName);
        QCOMPARE(names.mid(4), QStringList({"", ""}));
        QCOMPARE(names.first(), QString(order == Qt::AscendingOrder ? "S0" : "S3"));
    }
    // A server answering later moves into place while the view is sorted.
    proxy.setDynamicSortFilter(true);
    proxy.sort(ServerModel::ColPlayers, Qt::DescendingOrder);
    m.setAnswer(key(6), answer("\\hostname\\Back\\maxclients\\16", "0 0 \"a\"\n0 0 \"b\"\n"), 1);
    QCOMPARE(column(proxy, ServerModel::ColPlayers).mid(3, 3),
             QStringList({"2/16", "1/16", "(no answer)"}));
}

void TestServerModel::manyRecords()
{
    ServerModel m;
    QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
    {
        ServerModel::Batch batch(m);
        for (quint32 i = 0; i < 65536; ++i) {
            const ServerKey k = ServerKey::fromAddress(0x7f000000u | i, quint16(27910 + i % 3));
            m.upsertListed(k, "master", {{}, k.toString(), {}, {}, false});
            m.upsertListed(k, "lan", {{}, k.toString(), {}, {}, false});
        }
    }
    QCOMPARE(inserted.size(), 0); // told as one reset
    QCOMPARE(m.rowCount(), 65536);
    const ServerKey k = ServerKey::fromAddress(0x7f000000u | 40000, quint16(27910 + 40000 % 3));
    QCOMPARE(m.rowOf(k), 40000);
    QVERIFY(m.setAnswer(k, answer("\\hostname\\Found\\maxclients\\2", "1 1 \"x\"\n"), 1));
    ServerSortProxy proxy;
    proxy.setSourceModel(&m);
    proxy.sort(ServerModel::ColPlayers, Qt::DescendingOrder);
    QCOMPARE(cell(proxy, 0, ServerModel::ColName), QString("Found"));
    proxy.sort(ServerModel::ColAddress, Qt::DescendingOrder);
    QCOMPARE(cell(proxy, 0, ServerModel::ColAddress), QString("127.0.255.255:27910"));
}

// An answer is kept as the datagram it came in and read again when asked for; players
// set one by one keep the answer's rules; an outsized answer is packed, not kept.
void TestServerModel::answerKeptAsItCame()
{
    const status::ServerStatus s = answer("\\hostname\\A\\maxclients\\8\\version\\last",
                                          "3 40 \"One\"\n-1 55 \"\x90Two\x91\"\n");
    ServerRecord r;
    r.takeAnswer(s);
    QCOMPARE(r.playerCount(), 2);
    QCOMPARE(r.players().value(1).name, QStringLiteral("[Two]"));
    QCOMPARE(r.players().value(1).frags, -1);
    QCOMPARE(r.rules().size(), 3);
    QCOMPARE(r.rules().last(), Rule("version", "last"));
    r.setPlayers({{QStringLiteral("Solo"), 7, 20}});
    QCOMPARE(r.playerCount(), 1);
    QCOMPARE(r.rules().last(), Rule("version", "last"));

    QByteArray many;
    for (int i = 0; i < 300; ++i)
        many += "0 10 \"player" + QByteArray::number(i) + "\"\n";
    ServerRecord big;
    big.takeAnswer(answer("\\hostname\\B\\maxclients\\300", many));
    QCOMPARE(big.playerCount(), 300);
    QCOMPARE(big.players().value(299).name, QStringLiteral("player299"));
    QCOMPARE(big.playersText, QStringLiteral("300/300"));
}

// "Last Seen" tells, for the silent servers alone, when they last answered, latest first;
// "Peak Today" sorts by number; servers without a figure go last.
void TestServerModel::historyColumns()
{
    ServerModel m;
    ServerSortProxy proxy;
    proxy.setSourceModel(&m);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<ServerKey> keys;
    for (quint32 i = 1; i <= 4; ++i) {
        keys << ServerKey::fromAddress(0x0a000000u + i, 27910);
        m.upsertListed(keys.last(), QStringLiteral("master"), {});
    }
    m.setAnswer(keys[0], answer("\\hostname\\A\\maxclients\\8"), 10);
    for (int i = 1; i < 4; ++i)
        m.setFailed(keys[i], false);
    const QHash<ServerKey, std::pair<qint64, int>> figures{
        {keys[0], {now, 5}}, {keys[1], {now - 3 * 3600, 2}}, {keys[2], {now - 120, -1}}};
    m.setHistoryFigures([&](const ServerKey &k) { return figures.value(k, {0, -1}); });
    QCOMPARE(m.index(0, ServerModel::ColLastSeen).data().toString(), QString()); // answered
    QCOMPARE(m.index(1, ServerModel::ColLastSeen).data().toString(), QStringLiteral("3 h ago"));
    QCOMPARE(m.index(2, ServerModel::ColLastSeen).data().toString(), QStringLiteral("2 min ago"));
    QCOMPARE(m.index(3, ServerModel::ColLastSeen).data().toString(), QString()); // unknown
    QCOMPARE(m.index(1, ServerModel::ColPeakToday).data().toString(), QStringLiteral("2"));
    const auto order = [&proxy] {
        QStringList rows;
        for (int r = 0; r < proxy.rowCount(); ++r)
            rows << proxy.index(r, ServerModel::ColAddress).data().toString();
        return rows;
    };
    proxy.sort(ServerModel::ColLastSeen);
    QCOMPARE(order().mid(0, 2), (QStringList{"10.0.0.3:27910", "10.0.0.2:27910"}));
    proxy.sort(ServerModel::ColPeakToday, Qt::DescendingOrder);
    QCOMPARE(order().first(), QStringLiteral("10.0.0.1:27910"));
}

QTEST_GUILESS_MAIN(TestServerModel)
#include "tst_servermodel.moc"
