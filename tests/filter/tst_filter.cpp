// Server facts from rule sets, the grid's filter rules, Find Player's matching and the
// buddy watch's once-per-appearance rule.
#include "core/filter/BuddyWatch.h"
#include "core/filter/PlayerSearch.h"
#include "core/filter/ServerFacts.h"
#include "core/filter/ServerFilter.h"
#include "core/model/ServerModel.h"
#include "core/status/StatusReply.h"

#include <QTest>

using namespace tarvex::filter;
namespace model = tarvex::model;
namespace status = tarvex::status;

namespace {

status::ServerStatus answer(const QByteArray &info, const QByteArray &players = {})
{
    const auto s = status::parseStatusReply("\xff\xff\xff\xffprint\n" + info + "\n" + players);
    Q_ASSERT(s);
    return *s;
}

QStringList shownNames(const model::ServerSortProxy &proxy)
{
    QStringList names;
    for (int row = 0; row < proxy.rowCount(); ++row)
        names << proxy.index(row, model::ServerModel::ColName).data().toString();
    return names;
}

} // namespace

class TestFilter : public QObject
{
    Q_OBJECT

private slots:
    void facts()
    {
        // A colour-coded name, no gamedir, a password and coop.
        const ServerFacts coop = serverFacts({{"hostname", "\xc2\xe1\xf3\xe5 \x12\x13"},
                                              {"gamedir", ""},
                                              {"deathmatch", "0"},
                                              {"coop", "1"},
                                              {"needpass", "1"}});
        QCOMPARE(coop.name, QStringLiteral("Base 01"));
        QCOMPARE(coop.mod, QStringLiteral("baseq2"));
        QCOMPARE(coop.gameType, QStringLiteral("coop"));
        QVERIFY(coop.passworded);

        // needpass 2 alone guards only the watchers' slots; ctf beats deathmatch.
        const ServerFacts ctf = serverFacts(
            {{"gamedir", "ctf"}, {"deathmatch", "1"}, {"needpass", "2"}, {"hostname", "x"}});
        QCOMPARE(ctf.gameType, QStringLiteral("ctf"));
        QVERIFY(!ctf.passworded);
        QCOMPARE(ctf.mod, QStringLiteral("ctf"));

        const ServerFacts dm =
            serverFacts({{"gamedir", "action"}, {"deathmatch", "1"}, {"needpass", "3"}});
        QCOMPARE(dm.gameType, QStringLiteral("deathmatch"));
        QCOMPARE(dm.mod, QStringLiteral("action"));
        QVERIFY(dm.passworded);
        QCOMPARE(serverFacts({}).gameType, QStringLiteral("single"));
    }

    void filterRules()
    {
        FilterInput s{QStringLiteral("Base 01"),
                      QStringLiteral("q2dm1"),
                      QStringLiteral("baseq2"),
                      QStringLiteral("127.0.0.1:27910"),
                      4,
                      8,
                      true,
                      false,
                      false,
                      40,
                      {}};
        FilterInput prepared = s;
        prepare(prepared);
        FilterOptions o;
        QVERIFY(accepts(o, s));
        for (const char *text : {"base", "Q2DM", "BASEQ2", "0.1:279", "  base  "}) {
            o.text = QString::fromLatin1(text);
            QVERIFY2(accepts(o, s), text);
            QVERIFY2(accepts(o, prepared), text);
        }
        o.text = QStringLiteral("edge");
        QVERIFY(!accepts(o, s) && !accepts(o, prepared));
        o.text = QStringLiteral("q2dm1\nbase"); // no match across two of the texts
        QVERIFY(!accepts(o, prepared));
        o.text.clear();

        FilterInput empty = s, full = s, silent = s, locked = s, slow = s, fav = s;
        empty.players = 0;
        full.players = 8;
        silent.answered = false;
        silent.gamePing = -1;
        locked.passworded = true;
        slow.gamePing = 200;
        fav.favourite = true;

        o.hideEmpty = true;
        QVERIFY(!accepts(o, empty) && accepts(o, full));
        o = {};
        o.hideFull = true;
        QVERIFY(!accepts(o, full) && accepts(o, empty));
        FilterInput noMax = full;
        noMax.maxPlayers = 0; // no maximum named: never full
        QVERIFY(accepts(o, noMax));
        o = {};
        o.hideNotAnswered = true;
        QVERIFY(!accepts(o, silent) && accepts(o, s));
        o = {};
        o.hidePassworded = true;
        QVERIFY(!accepts(o, locked) && accepts(o, s));
        o = {};
        o.favouritesOnly = true;
        QVERIFY(!accepts(o, s) && accepts(o, fav));
        o = {};
        o.maxGamePing = 100;
        QVERIFY(accepts(o, s) && !accepts(o, slow) && !accepts(o, silent));
    }

    void playerSearch()
    {
        const QList<SearchServer> servers{
            {QStringLiteral("a"),
             QStringLiteral("Alpha"),
             QStringLiteral("127.0.0.1:1"),
             {QStringLiteral("[Clan]Rocket"), QStringLiteral("grunt")},
             {},
             {}},
            {QStringLiteral("b"),
             QStringLiteral("Beta"),
             QStringLiteral("127.0.0.1:2"),
             {QStringLiteral("rocketeer"), QStringLiteral("Zed")},
             {},
             {}}};

        const auto plain = PlayerSearch(QStringLiteral("ROCKET")).run(servers);
        QCOMPARE(plain.size(), 2);
        QCOMPARE(plain[0].serverKey, QStringLiteral("a"));
        QCOMPARE(plain[1].serverName, QStringLiteral("Beta"));
        QVERIFY(PlayerSearch(QString()).run(servers).isEmpty());
        QList<SearchServer> prepared = servers;
        for (SearchServer &server : prepared)
            prepare(server);
        QCOMPARE(PlayerSearch(QStringLiteral("ROCKET")).run(prepared).size(), 2);
        QCOMPARE(PlayerSearch(QStringLiteral("/^Z")).run(prepared).size(), 1);
        // Brackets are plain text unless the text starts with "/".
        QCOMPARE(PlayerSearch(QStringLiteral("[clan]")).run(servers).size(), 1);

        const auto expression = PlayerSearch(QStringLiteral("/^(rocket|zed)")).run(servers);
        QCOMPARE(expression.size(), 2);
        QCOMPARE(expression[1].player, QStringLiteral("Zed"));

        PlayerSearch broken(QStringLiteral("/[unclosed"));
        QVERIFY(!broken.isValid());
        QVERIFY(broken.errorMessage().startsWith(QStringLiteral("Invalid regular expression: ")));
        QVERIFY(broken.run(servers).isEmpty());
        QVERIFY(!broken.matches(QStringLiteral("[unclosed")));
    }

    // The one-pass indexes give exactly what judging each server and name alone gives.
    void indexesAgreeWithOneByOne()
    {
        QList<FilterInput> inputs;
        FilterIndex index;
        QList<SearchServer> servers;
        for (int i = 0; i < 300; ++i) {
            FilterInput in{QStringLiteral("Srv %1 [Clan%2]").arg(i).arg(i % 7),
                           QStringLiteral("q2dm%1").arg(i % 5),
                           i % 3 ? QStringLiteral("baseq2") : QStringLiteral("ctf"),
                           QStringLiteral("127.0.%1.%2:27910").arg(i / 256).arg(i % 256),
                           i % 9,
                           i % 4 ? 8 : 0,
                           i % 11 != 0,
                           i % 6 == 0,
                           i % 10 == 0,
                           i % 13 ? 10 * (i % 20) : -1,
                           {}};
            if (i % 2)
                prepare(in);
            inputs.append(in);
            index.append(in);
            QStringList players;
            for (int p = 0; p < i % 4; ++p)
                players << QStringLiteral("%1Player%2 b")
                               .arg(p ? QString() : QStringLiteral("x"))
                               .arg(i * 10 + p);
            servers.append({QString::number(i), in.name, in.address, players, {}, {}});
        }
        std::vector<FilterOptions> cases(8);
        cases[1].text = QStringLiteral(" CLAN3 ");
        cases[2].text = QStringLiteral("27910\nq2");
        cases[3].hideEmpty = cases[3].hideFull = true;
        cases[4].hideNotAnswered = cases[4].hidePassworded = true;
        cases[5].favouritesOnly = true;
        cases[6].maxGamePing = 90;
        cases[7].text = QStringLiteral("ctf");
        cases[7].hideEmpty = true;
        for (const FilterOptions &o : cases) {
            std::vector<char> accepted;
            const int count = index.apply(o, accepted);
            int expected = 0;
            for (int i = 0; i < inputs.size(); ++i) {
                QCOMPARE(bool(accepted[size_t(i)]), accepts(o, inputs[i]));
                expected += accepts(o, inputs[i]) ? 1 : 0;
            }
            QCOMPARE(count, expected);
        }

        const PlayerIndex players(servers);
        QCOMPARE(players.playerCount(), 450);
        for (const char *text : {"player1", "XPLAYER2", "/^x", "/b$", "/\\Ap", "/r1(?=2)",
                                 "/r\\d+ b", "/\\s", "/y*", "/2\\n", "/^$", "/[unclosed"}) {
            const PlayerSearch search(QString::fromLatin1(text));
            const QList<PlayerMatch> quick = search.run(players, 100000);
            QList<PlayerMatch> alone;
            for (const SearchServer &server : servers)
                for (const QString &name : server.players)
                    if (search.matches(name))
                        alone.append({name, server.key, server.name, server.address});
            QCOMPARE(quick.size(), alone.size());
            for (int i = 0; i < quick.size(); ++i) {
                QCOMPARE(quick[i].player, alone[i].player);
                QCOMPARE(quick[i].serverKey, alone[i].serverKey);
            }
        }
        QCOMPARE(PlayerSearch(QStringLiteral("player")).run(players, 5).size(), 5);
    }

    // The grid's rows through the model: decoded names and the rules' columns, filtered.
    void filterOnTheModel()
    {
        model::ServerModel servers;
        model::ServerSortProxy proxy;
        proxy.setSourceModel(&servers);
        const auto key = [](quint32 last) {
            return model::ServerKey::fromAddress(0x7f000000u | last, 27910);
        };
        for (quint32 i = 1; i <= 4; ++i)
            servers.upsertListed(key(i), QStringLiteral("list"), {});
        // A name in green letters, a locked ctf server, an empty one, one that is silent.
        servers.setAnswer(key(1),
                          answer("\\hostname\\\xd2\xef\xe3\xeb\xe5\xf4 Arena\\mapname\\q2dm1"
                                 "\\maxclients\\2\\deathmatch\\1",
                                 "1 20 \"a\"\n2 30 \"b\"\n"),
                          35);
        servers.setAnswer(
            key(2),
            answer("\\hostname\\Flags\\gamedir\\ctf\\needpass\\1\\maxclients\\8", "1 20 \"c\"\n"),
            120);
        servers.setAnswer(key(3), answer("\\hostname\\Quiet\\maxclients\\8"), 10);
        servers.setFailed(key(4), false);
        servers.setFavourites({key(3)});
        using M = model::ServerModel;
        QCOMPARE(servers.index(0, M::ColName).data().toString(), QStringLiteral("Rocket Arena"));
        QCOMPARE(servers.index(0, M::ColGamePing).data().toString(), QStringLiteral("35"));
        QCOMPARE(servers.index(0, M::ColMod).data().toString(), QStringLiteral("baseq2"));
        QCOMPARE(servers.index(1, M::ColType).data().toString(), QStringLiteral("ctf"));
        QVERIFY(!servers.index(1, M::ColLock).data().toString().isEmpty());
        QVERIFY(servers.index(0, M::ColLock).data().toString().isEmpty());
        QVERIFY(servers.index(3, M::ColGamePing).data().toString().isEmpty());
        QCOMPARE(servers.headerData(M::ColGamePing, Qt::Horizontal).toString(),
                 QStringLiteral("Game Ping"));
        QVERIFY(servers.index(2, 0).data(M::FavouriteRole).toBool());

        FilterOptions o;
        o.text = QStringLiteral("rocket");
        proxy.setFilterOptions(o);
        QCOMPARE(shownNames(proxy), QStringList{QStringLiteral("Rocket Arena")});
        o.text = QStringLiteral("CTF");
        proxy.setFilterOptions(o);
        QCOMPARE(shownNames(proxy), QStringList{QStringLiteral("Flags")});
        o = {};
        o.hideFull = o.hideEmpty = true;
        proxy.setFilterOptions(o);
        QCOMPARE(shownNames(proxy), QStringList{QStringLiteral("Flags")});
        QCOMPARE(proxy.shownTotals().players, 1);
        o = {};
        o.hidePassworded = o.hideNotAnswered = true;
        o.maxGamePing = 50;
        proxy.setFilterOptions(o);
        QCOMPARE(shownNames(proxy),
                 (QStringList{QStringLiteral("Rocket Arena"), QStringLiteral("Quiet")}));
        o = {};
        o.favouritesOnly = true;
        proxy.setFilterOptions(o);
        QCOMPARE(shownNames(proxy), QStringList{QStringLiteral("Quiet")});
        // A later answer counts once the list is filtered again.
        servers.setAnswer(key(3), answer("\\hostname\\Quiet Now\\maxclients\\8"), 10);
        proxy.refilter();
        QCOMPARE(shownNames(proxy), QStringList{QStringLiteral("Quiet Now")});
        proxy.setFilterOptions({});
        QCOMPARE(proxy.rowCount(), 4);

        // Buddies mark the server they play on, in any letter case.
        servers.setBuddies({QStringLiteral(" C ")});
        QVERIFY(servers.index(1, 0).data(M::BuddyRole).toBool());
        QVERIFY(!servers.index(0, 0).data(M::BuddyRole).toBool());
        QCOMPARE(proxy.shownTotals().withBuddies, 1);
    }

    void buddyOncePerAppearance()
    {
        BuddyWatch watch;
        watch.setBuddies({QStringLiteral(" Rocket "), QStringLiteral("rocket"), QString(),
                          QStringLiteral("Zed")});
        QCOMPARE(watch.buddies(), QStringList({QStringLiteral("Rocket"), QStringLiteral("Zed")}));

        const SeenPlayer rocketA{QStringLiteral("ROCKET"), QStringLiteral("a")};
        const SeenPlayer rocketB{QStringLiteral("rocket"), QStringLiteral("b")};
        const SeenPlayer other{QStringLiteral("rocketeer"), QStringLiteral("a")};

        // First sighting reported once, even when on two servers at once.
        auto fresh = watch.refreshed({rocketA, rocketB, other});
        QCOMPARE(fresh.size(), 1);
        QCOMPARE(fresh[0].buddy, QStringLiteral("Rocket"));
        QCOMPARE(fresh[0].serverKey, QStringLiteral("a"));
        // Still there (even on another server): nothing.
        QVERIFY(watch.refreshed({rocketB}).isEmpty());
        // Gone for one refresh, then back: reported again.
        QVERIFY(watch.refreshed({other}).isEmpty());
        QCOMPARE(watch.refreshed({rocketB}).size(), 1);
        // Taken off the list and put back while present: a new appearance.
        watch.setBuddies({QStringLiteral("Zed")});
        QVERIFY(watch.refreshed({rocketB}).isEmpty());
        watch.setBuddies({QStringLiteral("Zed"), QStringLiteral("Rocket")});
        QCOMPARE(watch.refreshed({rocketB}).size(), 1);
        QVERIFY(watch.isBuddy(QStringLiteral(" zed")));
        QVERIFY(!watch.isBuddy(QStringLiteral("zedd")));
    }
};

QTEST_GUILESS_MAIN(TestFilter)
#include "tst_filter.moc"
