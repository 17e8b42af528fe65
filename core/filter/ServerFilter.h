#pragma once

#include <QString>

#include <vector>

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

// The filter's view of many servers at once: their folded texts in one buffer and their
// numbers side by side, so that a keystroke is one pass over contiguous memory rather
// than a visit to every server's own strings.
class FilterIndex
{
public:
    void clear();
    void reserve(int servers);
    // Adds the next server (its folded text is made here when prepare() was not called).
    void append(const FilterInput &server);
    int size() const { return int(m_numbers.size()); }

    // Marks each server the options keep (accepted[i] for the i-th appended server) and
    // returns how many that is.
    int apply(const FilterOptions &options, std::vector<char> &accepted) const;

private:
    struct Numbers
    {
        int players;
        int maxPlayers;
        int gamePing;
        bool answered;
        bool passworded;
        bool favourite;
    };
    QString m_folded; // each server's folded text followed by a line break
    std::vector<qsizetype> m_start; // where each server's text starts, and the end
    std::vector<Numbers> m_numbers;
};

// Whether the server stays in the grid (for one server; a ServerFilter for many).
bool accepts(const FilterOptions &options, const FilterInput &server);

} // namespace tarvex::filter
