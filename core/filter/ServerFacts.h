#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// What a Quake 2 server's rule set says about the game it runs, read once per answer so
// that the grid, the filters and the player search compare ready values.
namespace tarvex::filter {

struct ServerFacts
{
    QString name; // "hostname", colour bytes decoded
    QString map; // "mapname", decoded
    QString mod; // "gamedir"; "baseq2" when the rule is missing or empty
    QString gameType; // "ctf", "coop", "deathmatch" or "single"
    bool passworded = false; // "needpass" with bit 1 set
};

using Rules = QList<QPair<QByteArray, QByteArray>>;

ServerFacts serverFacts(const Rules &rules);

} // namespace tarvex::filter
