// Figures for the details window: the time from the click to the shown window beyond
// QStat's own run, the processor time Tarvex spends while QStat runs (against a busy
// poll of an output file), and the parse of the largest output that is kept.
//
// Run: QT_QPA_PLATFORM=offscreen build/bin/bench_details
#include "Q2Responder.h"
#include "browser/frmTarvex.h"
#include "details/ListBox.h"
#include "core/details/QStatOutput.h"
#include "core/details/QStatQuery.h"
#include "details/frmMoreInfo.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ServerRows.h"
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace tarvex;

namespace {

constexpr int Runs = 15;

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
    f.close();
    if (executable)
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

const QByteArray DemoAnswer =
    "Q2S^^VRAX^^10.0.0.5:27910^^VRAX^^Warehouse "
    "Instagib^^VRAX^^q2dm8^^VRAX^^24^^VRAX^^12^^VRAX^^0^^VRAX^^0\n"
    "timelimit=10^^VRAX^^fraglimit=40^^VRAX^^version=3.20 x86 Linux\n"
    "Zap^^VRAX^^41^^VRAX^^31\nBolt^^VRAX^^38^^VRAX^^36\nRail Queen^^VRAX^^35^^VRAX^^44\n\n";

// Shows the details window for the main window's row 1 and closes it again. Returns
// the click-to-shown time; *runMs gets the QStat run's share.
double openAndClose(frmTarvex &w, double *runMs, double *cpu = nullptr)
{
    QElapsedTimer clock;
    const double cpuBefore = cpuMs();
    clock.start();
    w.cmdMoreInfo_Click();
    frmMoreInfo *d = w.findChild<frmMoreInfo *>();
    bool shown = false;
    if (d) {
        QEventLoop loop;
        QObject::connect(d, &frmMoreInfo::loaded, &loop, [&](bool ok) {
            shown = ok;
            loop.quit();
        });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double total = double(clock.nsecsElapsed()) / 1e6;
    if (cpu)
        *cpu = cpuMs() - cpuBefore;
    if (!shown || !d->isVisible()) {
        std::fprintf(stderr, "bench_details: the details window did not show\n");
        std::exit(1);
    }
    *runMs = double(d->lastRun().elapsedNs) / 1e6;
    d->close();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return total;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    test::PromptRecorder prompts;
    QTemporaryDir dir;
    const QString folder = dir.path();
    frmTarvex w{nullptr, frmTarvex::PingControl::Skip};
    w.Grid1->setRow(1);

    // 1. Click to shown window with the real quakestat against a loopback server.
    if (QStandardPaths::findExecutable(QStringLiteral("quakestat")).isEmpty()) {
        std::printf("quakestat not installed: click-to-shown figures skipped\n");
    } else {
        tools::Q2Responder responder;
        tools::Q2ServerConfig server;
        server.info = "\\hostname\\Warehouse "
                      "Instagib\\mapname\\q2dm8\\maxclients\\24\\timelimit\\10\\fraglimit\\40";
        for (int i = 0; i < 12; ++i)
            server.players.append({40 - 3 * i, 30 + 7 * i, "Player " + QByteArray::number(i)});
        QString address;
        for (int attempt = 0; attempt < 20; ++attempt) {
            address = QStringLiteral("127.%1.%2.%3")
                          .arg(QRandomGenerator::global()->bounded(64, 250))
                          .arg(QRandomGenerator::global()->bounded(1, 255))
                          .arg(QRandomGenerator::global()->bounded(1, 255));
            server.address = QHostAddress(address);
            if (responder.addServer(server))
                break;
            address.clear();
        }
        if (address.isEmpty())
            return 1;
        test::setCell(w, 1, frmTarvex::ColAddress, address + QStringLiteral(":27910"));
        std::vector<double> totals, runs, overheads;
        for (int i = 0; i < Runs; ++i) {
            double run = 0;
            const double total = openAndClose(w, &run);
            totals.push_back(total);
            runs.push_back(run);
            overheads.push_back(total - run);
        }
        std::printf("click to shown window, real quakestat on loopback, %d runs (median):\n", Runs);
        std::printf("  total %.1f ms, QStat run %.1f ms, Tarvex beyond it %.2f ms "
                    "(max %.2f ms)\n",
                    median(totals), median(runs), median(overheads),
                    *std::max_element(overheads.begin(), overheads.end()));
    }

    // 2. Processor time while QStat takes a second: a stand-in "quakestat" that sleeps
    // first, found first on the search path.
    writeFile(folder + QStringLiteral("/answer.txt"), DemoAnswer);
    writeFile(folder + QStringLiteral("/quakestat"),
              "#!/bin/sh\nsleep 1\ncat '" + QFile::encodeName(folder) + "/answer.txt'\n", true);
    qputenv("PATH", QFile::encodeName(folder) + ':' + qgetenv("PATH"));
    test::setCell(w, 1, frmTarvex::ColAddress, QStringLiteral("10.0.0.5"));
    {
        double run = 0;
        double cpu = 0;
        const double total = openAndClose(w, &run, &cpu);
        std::printf("a 1 s QStat run: click to shown %.0f ms; Tarvex processor time %.1f ms "
                    "(%.1f%% of a core)\n",
                    total, cpu, 100.0 * cpu / total);
    }
    // The same wait as a busy poll of an output file (read until not empty, pumping
    // events in between), for reference.
    {
        const QString out = folder + QStringLiteral("/tmp.txt");
        QFile::remove(out);
        QProcess sh;
        sh.setWorkingDirectory(folder);
        sh.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"), QStringLiteral("./quakestat > tmp.txt")});
        QElapsedTimer clock;
        const double before = cpuMs();
        clock.start();
        QByteArray text;
        long polls = 0;
        while (text.isEmpty() && clock.elapsed() < 5000) {
            QFile f(out);
            if (f.open(QIODevice::ReadOnly))
                text = f.read(f.size());
            QApplication::processEvents();
            ++polls;
        }
        const double cpu = cpuMs() - before;
        const double wall = double(clock.nsecsElapsed()) / 1e6;
        sh.waitForFinished(3000);
        std::printf("reference busy poll of the same run: %ld polls, processor time %.0f ms in "
                    "%.0f ms (%.0f%% of a core)\n",
                    polls, cpu, wall, 100.0 * cpu / wall);
    }

    // 3. The largest output that is kept (1 MiB) into the window's own widgets.
    {
        const int lines = (1 << 20) / 20;
        const QString players =
            QStringLiteral(
                "Q2S^^VRAX^^a^^VRAX^^b^^VRAX^^c^^VRAX^^8^^VRAX^^1^^VRAX^^0^^VRAX^^0\nr^^VRAX^^\n")
            + QStringLiteral("player^^VRAX^^10^^VRAX^^99\n").repeated(lines);
        const QString rules =
            QStringLiteral("Q2S^^VRAX^^a^^VRAX^^b^^VRAX^^c^^VRAX^^8^^VRAX^^1^^VRAX^^0^^VRAX^^0\n")
            + QStringLiteral("rule=1^^VRAX^^").repeated((1 << 20) / 14) + QStringLiteral("\n");
        for (const auto &[name, output] :
             {std::pair{"player lines", players}, std::pair{"rules", rules}}) {
            frmMoreInfo window(&w, QStringLiteral("10.0.0.5"), 27910);
            QElapsedTimer clock;
            clock.start();
            window.showDetails(
                QStatOutput::Parse(output, window.Grid1->Cols(), window.Grid2->Cols()));
            std::printf("1 MiB of %s into the window: %.0f ms (%d player rows, %d rules)\n", name,
                        double(clock.nsecsElapsed()) / 1e6, window.Grid2->Rows() - 1,
                        window.List1->ListCount());
        }
    }
    return 0;
}
