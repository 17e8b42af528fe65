#pragma once

#include <QString>

// Which servers the grid shows: the quick text and the View › Filter toggles.
namespace tarvex::filter {

// The values of one server the filter looks at (texts already decoded).
struct FilterInput
{
    QString name;
    QString map;
    QString mod;
    QString address;
    int players = 0;
    int maxPlayers = 0; // 0 when the server names no maximum
    bool answered = false;
    bool passworded = false;
    bool favourite = false;
    int gamePing = -1; // ms; -1 when unknown
};

struct FilterOptions
{
    QString text; // kept when name, map, mod or address contains it (any letter case)
    bool hideEmpty = false;
    bool hideFull = false;
    bool hideNotAnswered = false;
    bool hidePassworded = false;
    bool favouritesOnly = false;
    int maxGamePing = 0; // ms; 0 for no limit

    bool operator==(const FilterOptions &other) const;
    bool operator!=(const FilterOptions &other) const { return !(*this == other); }
};

// Whether the server stays in the grid.
bool accepts(const FilterOptions &options, const FilterInput &server);

} // namespace tarvex::filter
