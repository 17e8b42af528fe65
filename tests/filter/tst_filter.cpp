// Server facts from rule sets, the grid's filter rules, Find Player's matching and the
// buddy watch's once-per-appearance rule.
#include "core/filter/BuddyWatch.h"
#include "core/filter/PlayerSearch.h"
#include "core/filter/ServerFacts.h"
#include "core/filter/ServerFilter.h"

#include <QTest>

using namespace tarvex::filter;

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
