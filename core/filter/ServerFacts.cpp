#include "core/filter/ServerFacts.h"

#include "core/status/StatusReply.h"

namespace tarvex::filter {

namespace {

// The first value of a key (keys compare exactly, as the server sends them).
QByteArray rule(const Rules &rules, const char *key)
{
    for (const auto &pair : rules)
        if (pair.first == key)
            return pair.second;
    return {};
}

// A rule read as a whole number; 0 when absent or not a number.
int number(const Rules &rules, const char *key)
{
    bool ok = false;
    const int value = rule(rules, key).trimmed().toInt(&ok);
    return ok ? value : 0;
}

} // namespace

ServerFacts serverFacts(const Rules &rules)
{
    ServerFacts facts;
    facts.name = status::decodeName(rule(rules, "hostname"));
    facts.map = status::decodeName(rule(rules, "mapname"));
    facts.mod = status::decodeName(rule(rules, "gamedir")).trimmed();
    if (facts.mod.isEmpty())
        facts.mod = QStringLiteral("baseq2");

    // Capture the flag runs as its own game directory (ctf, and mods built on it name
    // themselves so) or sets a "ctf" rule; coop and deathmatch are the game's own
    // switches, and a server with neither runs the single-player game.
    const QString gameName = status::decodeName(rule(rules, "gamename")).toLower();
    if (number(rules, "ctf") != 0 || facts.mod.compare(u"ctf", Qt::CaseInsensitive) == 0
        || gameName.contains(u"ctf"))
        facts.gameType = QStringLiteral("ctf");
    else if (number(rules, "coop") != 0)
        facts.gameType = QStringLiteral("coop");
    else if (number(rules, "deathmatch") != 0)
        facts.gameType = QStringLiteral("deathmatch");
    else
        facts.gameType = QStringLiteral("single");

    facts.passworded = (number(rules, "needpass") & 1) != 0;
    return facts;
}

} // namespace tarvex::filter
