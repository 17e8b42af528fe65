// Figures for the server list: parsing a large page into a grid, against cutting the
// page the plain way, and the start-up to a shown, filled main window.
//
// Run: QT_QPA_PLATFORM=offscreen build/bin/bench_serverlist
#include "core/browser/ServerListParser.h"
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "core/grid/GridData.h"
#include "support/ListPages.h"
#include "support/ReferenceParser.h"
#include "support/TestSupport.h"
#include "ListService.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarvex;

namespace {

double medianMs(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template<typename F> double timeMs(F &&f)
{
    QElapsedTimer t;
    t.start();
    f();
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer startup;
    startup.start();
    QApplication app(argc, argv);

    // Start-up on the demo list: window built, settings read, shown, list fetched and
    // parsed into the grid (no ping, no splash: those are measured elsewhere).
    double startupMs = 0;
    {
        test::TempSettings settings;
        tools::ListService service;
        if (!service.listen())
            return 1;
        QFile demo(QStringLiteral(TARVEX_SOURCE_DIR "/tools/demo/q2servers.html"));
        if (!demo.open(QIODevice::ReadOnly))
            return 1;
        service.setPage(demo.readAll());
        settings.writeIni("[Data]\nQuakeLocation=/games/quake2/"
                          "quake2\nmnuPing=False\n[Endpoints]\nServerListHost="
                          + service.baseUrl().toUtf8() + "\n");
        frmTarvex window;
        window.Form_Load();
        if (!QTest::qWaitFor([&window] { return !window.refreshRunning(); }, 60000))
            return 1;
        startupMs = double(startup.nsecsElapsed()) / 1e6;
        std::printf("start-up to a shown main window with %d demo servers: %.1f ms\n",
                    window.Grid1->Rows() - 1, startupMs);
    }

    const int rows = 20000;
    QList<test::ServerRow> servers = test::generatedRows(rows);
    for (auto &s : servers)
        s.name += QStringLiteral(" | Capture the Flag, weapons stay, 24/7, fair play, friendly "
                                 "admins, all welcome here");
    const QString page = test::listPage(servers);
    std::printf("page: %d rows, %.1f MB (%lld characters)\n", rows,
                double(page.toUtf8().size()) / 1e6, (long long)page.size());

    std::vector<double> memory;
    for (int i = 0; i < 7; ++i) {
        memory.push_back(timeMs([&] {
            GridData grid(2, 5);
            ServerList::parsePage(page, grid);
            if (grid.Rows() != rows + 1)
                std::abort();
        }));
    }
    std::vector<double> widget;
    for (int i = 0; i < 3; ++i) {
        widget.push_back(timeMs([&] {
            FlexGrid grid(2, 5);
            ServerList::parsePage(page, grid);
            if (grid.Rows() != rows + 1)
                std::abort();
        }));
    }
    const double reference = timeMs([&] {
        GridData grid(2, 5);
        test::referenceParsePage(page, grid);
        if (grid.Rows() != rows + 1)
            std::abort();
    });
    const double parseMs = medianMs(memory);
    std::printf("parse into the in-memory grid: %.1f ms (median of %zu)\n", parseMs, memory.size());
    std::printf("parse into the window's grid: %.1f ms (median of %zu)\n", medianMs(widget),
                widget.size());
    std::printf("plain cut-from-the-front parse: %.1f ms (%.0fx slower)\n", reference,
                reference / parseMs);
    return 0;
}
