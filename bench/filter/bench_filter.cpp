// The filter and the player search over 65,536 answered servers of 16 players each:
// one quick-filter keystroke, one Find Player search and one toggle, each the median of
// a few runs, in milliseconds.
#include "core/filter/PlayerSearch.h"
#include "core/filter/ServerFilter.h"

#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>
#include <vector>

using namespace tarvex::filter;

namespace {

constexpr int Servers = 65536;
constexpr int PlayersEach = 16;
constexpr int Runs = 7;

template<typename Work> double medianMs(Work work)
{
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int countShown(const FilterIndex &servers, const FilterOptions &options)
{
    std::vector<char> accepted;
    return servers.apply(options, accepted);
}

} // namespace

int main()
{
    QList<FilterInput> inputs;
    QList<SearchServer> searchable;
    inputs.reserve(Servers);
    searchable.reserve(Servers);
    for (int i = 0; i < Servers; ++i) {
        const QString address =
            QStringLiteral("127.%1.%2.%3:27910").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
        const QString name = QStringLiteral("Server number %1 [Clan %2]").arg(i).arg(i % 97);
        inputs.append({name,
                       QStringLiteral("q2dm%1").arg(i % 8 + 1),
                       i % 5 ? QStringLiteral("baseq2") : QStringLiteral("action"),
                       address,
                       i % 17,
                       16,
                       true,
                       i % 31 == 0,
                       i % 13 == 0,
                       20 + i % 180,
                       {}});
        QStringList players;
        for (int p = 0; p < PlayersEach; ++p)
            players.append(QStringLiteral("Player_%1_%2").arg(i).arg(p));
        searchable.append({address, name, address, players, {}, {}});
        prepare(inputs.last());
        prepare(searchable.last());
    }

    FilterIndex index;
    index.reserve(Servers);
    for (const FilterInput &input : inputs)
        index.append(input);
    QElapsedTimer building;
    building.start();
    const PlayerIndex players(searchable);
    const double buildMs = building.nsecsElapsed() / 1e6;

    volatile int sink = 0;
    FilterOptions keystroke;
    keystroke.text = QStringLiteral("clan 4");
    const double filterMs = medianMs([&] { sink = sink + countShown(index, keystroke); });

    FilterOptions toggle = keystroke;
    toggle.hideEmpty = true;
    const double toggleMs = medianMs([&] { sink = sink + countShown(index, toggle); });

    const double searchMs = medianMs([&] {
        sink = sink + int(PlayerSearch(QStringLiteral("player_4242_")).run(players).size());
    });
    const double regexMs = medianMs([&] {
        sink = sink
            + int(PlayerSearch(QStringLiteral("/^player_1234_1[0-5]$")).run(players).size());
    });

    QTextStream out(stdout);
    out << "servers " << Servers << " x players " << PlayersEach << "\n";
    out << "quick filter keystroke ms " << filterMs << " (goal 16)\n";
    out << "filter toggle ms " << toggleMs << " (goal 50)\n";
    out << "find player ms " << searchMs << " (goal 50)\n";
    out << "find player, regular expression ms " << regexMs << " (goal 50)\n";
    out << "player index, built once per refresh, ms " << buildMs << "\n";
    return 0;
}
