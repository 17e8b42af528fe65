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
    // Name, map, mod and address lower-cased in one text, filled by prepare(): each
    // keystroke then compares plain characters instead of folding every text again.
    QString folded;
};

// Fills the input's folded text; call again whenever its texts change.
void prepare(FilterInput &server);

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

// The options made ready for many servers: the text is trimmed and lower-cased once.
class ServerFilter
{
public:
    explicit ServerFilter(const FilterOptions &options);
    // Whether the server stays in the grid.
    bool accepts(const FilterInput &server) const;

private:
    FilterOptions m_options;
    QString m_lower;
};

// Whether the server stays in the grid (for one server; a ServerFilter for many).
bool accepts(const FilterOptions &options, const FilterInput &server);

} // namespace tarvex::filter
