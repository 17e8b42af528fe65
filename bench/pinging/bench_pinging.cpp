// Figures for the list ping, in a private network namespace: 1,000 servers of which 500
// never answer, TimeOut 1500, pinged by the main window through its Ping control all at
// once (each means in turn), against the one-echo-at-a-time walk (measured on 40 rows, 20
// silent, and scaled); and for each, the longest stretch without handling window events.
//
// Run as root (it works in a private network namespace of its own):
//   QT_QPA_PLATFORM=offscreen build/bin/bench_pinging
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ServerRows.h"
#include "hosting/PingLoader.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <unistd.h>

using namespace tarvex;

namespace {
class Window : public frmTarvex
{
public:
    void showAboutSplash() override { }
};

// Servers 127.0.x.y answer; those in 192.0.2.0/24 and 198.51.100.0/24 (routed into
// loopback, where nothing owns them) never do.
QString address(int i, int silentEvery)
{
    if (silentEvery && i % silentEvery == 1) {
        const int k = i / silentEvery;
        return k < 250 ? QStringLiteral("192.0.2.%1:27910").arg(k + 1)
                       : QStringLiteral("198.51.100.%1:27910").arg(k - 250 + 1);
    }
    return QStringLiteral("127.0.%1.%2:27910").arg(i / 200).arg(i % 200 + 2);
}

void fill(frmTarvex &w, int servers)
{
    QList<QStringList> rows;
    for (int i = 0; i < servers; ++i)
        rows.append({QStringLiteral("Server %1").arg(i), address(i, 2)});
    test::listServers(w, rows);
}

// Notes the longest gap between two ticks of a zero-interval timer.
struct GapMeter
{
    qint64 longestNs = 0;
    QElapsedTimer since;
    QTimer ticker;
    GapMeter()
    {
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            longestNs = std::max(longestNs, since.nsecsElapsed());
            since.restart();
        });
        ticker.start();
        since.start();
    }
};
} // namespace

int main(int argc, char *argv[])
{
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
        std::printf(
            "bench_pinging: needs root for a private network namespace; nothing measured\n");
        return 0;
    }
    if (std::system("sysctl -qw net.ipv4.ping_group_range=\"0 2147483647\" && ip link set lo up && "
                    "ip route add 192.0.2.0/24 dev lo && ip route add 198.51.100.0/24 dev lo")
        != 0)
        return 1;
    QApplication app(argc, argv);
    test::TempSettings settings;
    Window w;
    if (!w.pingControl()) {
        std::fprintf(stderr, "no Ping control: %s\n", qPrintable(w.pingControlError()));
        return 1;
    }
    w.show();
    const int servers = 1000;
    std::printf("list ping of %d servers (500 never answer), TimeOut 1500:\n", servers);
    double parallelMs = 0;
    for (const char *means : {"datagram", "raw", "helper"}) {
        fill(w, servers);
        w.pingControl()->widget()->setProperty("IcmpMeans", QString::fromLatin1(means));
        bool done = false;
        const auto c = QObject::connect(&w, &frmTarvex::statusShown, [&](const QString &t) {
            done |= t.startsWith(QLatin1String("Finished"));
        });
        GapMeter gaps;
        QElapsedTimer clock;
        clock.start();
        w.Ping();
        while (!done && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        QObject::disconnect(c);
        int answered = 0, timedOut = 0;
        for (int r = 1; r < w.Grid1->Rows(); ++r) {
            const QString cell = w.Grid1->TextMatrix(r, 4);
            answered += !cell.isEmpty() && cell.at(0).isDigit();
            timedOut += cell == QLatin1String("Timed Out");
        }
        parallelMs = std::max(parallelMs, ms);
        std::printf("  all at once, %-8s %8.0f ms (%d answered, %d timed out); longest stretch "
                    "without events %.2f ms\n",
                    means, ms, answered, timedOut, double(gaps.longestNs) / 1e6);
    }

    // The one-at-a-time walk: Send per row, then one event pump, on 40 rows (20 silent).
    w.pingControl()->widget()->setProperty("IcmpMeans", QString());
    const int walkRows = 40;
    GapMeter gaps;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < walkRows; ++i) {
        QWidget *control = w.pingControl()->widget();
        control->setProperty("HostName", address(i, 2).section(QLatin1Char(':'), 0, 0));
        QMetaObject::invokeMethod(control, "Send", Qt::DirectConnection);
        QCoreApplication::processEvents();
    }
    const double walkMs = double(clock.nsecsElapsed()) / 1e6;
    const double scaled = walkMs * servers / walkRows;
    std::printf("  one at a time       %8.0f ms on %d rows, %.0f ms scaled to %d; longest stretch "
                "without events %.2f ms\n",
                walkMs, walkRows, scaled, servers, double(gaps.longestNs) / 1e6);
    std::printf("  the slowest run all at once is %.0f times faster than the walk\n",
                scaled / parallelMs);
    return 0;
}
