// The filter and the player search over 65,536 answered servers of 16 players each:
// one quick-filter keystroke, one Find Player search and one toggle, each the median of
// a few runs, in milliseconds.
#include "core/filter/PlayerSearch.h"
#include "core/filter/ServerFilter.h"
#include "core/model/ServerModel.h"
#include "core/status/StatusReply.h"

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

    volatile int sink = 0;
    FilterIndex index;
    index.reserve(Servers);
    for (const FilterInput &input : inputs)
        index.append(input);
    // Built once per change of the list, on the first search after it.
    const double buildMs = medianMs([&] { sink = sink + PlayerIndex(searchable).playerCount(); });
    const PlayerIndex players(searchable);

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
        sink =
            sink + int(PlayerSearch(QStringLiteral("/^player_1234_1[0-5]$")).run(players).size());
    });

    // The same through the grid's sorting view over the server model: what a keystroke
    // in the quick filter costs the window before painting (the filter applied, the
    // view's rows rebuilt in the sorted order, the shown servers and players counted).
    tarvex::model::ServerModel model;
    tarvex::model::ServerSortProxy view;
    view.setDynamicSortFilter(false);
    view.setSourceModel(&model);
    {
        tarvex::model::ServerModel::Batch batch(model);
        QByteArray players;
        for (int p = 0; p < PlayersEach; ++p)
            players += "1 20 \"Player_" + QByteArray::number(p) + "\"\n";
        for (int i = 0; i < Servers; ++i) {
            const auto key = tarvex::model::ServerKey::fromAddress(0x7f000000u | quint32(i), 27910);
            model.upsertListed(key, QStringLiteral("list"), {});
            const auto answer = tarvex::status::parseStatusReply(
                "\xff\xff\xff\xffprint\n\\hostname\\Server number " + QByteArray::number(i)
                + " [Clan " + QByteArray::number(i % 97) + "]\\mapname\\q2dm"
                + QByteArray::number(i % 8 + 1) + "\\maxclients\\16\n" + players);
            model.setAnswer(key, *answer, 20 + i % 180);
        }
    }
    view.sort(tarvex::model::ServerModel::ColName);
    FilterOptions typed;
    view.setFilterOptions(typed); // the first filtering gathers the index
    int turn = 0;
    const double viewMs = medianMs([&] {
        typed.text = (turn++ % 2) ? QStringLiteral("clan 4") : QStringLiteral("clan 42");
        view.setFilterOptions(typed);
        sink = sink + view.shownTotals().servers;
    });
    const double viewToggleMs = medianMs([&] {
        typed.hideFull = !typed.hideFull;
        view.setFilterOptions(typed);
        sink = sink + view.shownTotals().servers;
    });

    QTextStream out(stdout);
    out << "servers " << Servers << " x players " << PlayersEach << "\n";
    out << "quick filter keystroke ms " << filterMs << " (goal 16)\n";
    out << "filter toggle ms " << toggleMs << " (goal 50)\n";
    out << "find player ms " << searchMs << " (goal 50)\n";
    out << "find player, regular expression ms " << regexMs << " (goal 50)\n";
    out << "player index, built once per refresh, ms " << buildMs << "\n";
    out << "quick filter keystroke through the grid's view ms " << viewMs << " (goal 16)\n";
    out << "filter toggle through the grid's view ms " << viewToggleMs << " (goal 50)\n";
    return 0;
}
