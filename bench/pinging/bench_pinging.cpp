// Figures for the list ping: 200 loopback servers pinged by the main window through its
// Ping control; the time beyond the echoes themselves (grid write, status text, event
// pump); and how long the window goes without handling events during the run.
//
// Run as root (it then works in a private network namespace of its own), or as a user
// whose Ping control can send echoes (the helper's capability):
//   QT_QPA_PLATFORM=offscreen build/bin/bench_pinging
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "hosting/ControlLoader.h"
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
    void showAboutSplash() override {}
};
} // namespace

int main(int argc, char *argv[])
{
    if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0)
        std::system("ip link set lo up");
    QApplication app(argc, argv);
    test::TempSettings settings;
    Window w;
    if (!w.pingControl()) {
        std::fprintf(stderr, "no Ping control: %s\n", qPrintable(w.pingControlError()));
        return 1;
    }
    const int servers = 200;
    for (int i = 0; i < servers; ++i) {
        if (i > 0)
            w.Grid1->AddItem(QString());
        w.Grid1->setTextMatrix(i + 1, 0, QStringLiteral("Server %1").arg(i));
        w.Grid1->setTextMatrix(i + 1, 1, QStringLiteral("127.0.%1.%2:27910").arg(i / 200).arg(i % 200 + 2));
    }
    w.show();

    // The echoes alone: the same hosts through the same control, nothing else.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < servers; ++i) {
        hosting::setProperty(w.pingControl(), "HostName", QStringLiteral("127.0.0.%1").arg(i % 200 + 2));
        if (!hosting::call(w.pingControl(), "Send").value.canConvert<int>())
            return 1;
    }
    const double echoesMs = double(clock.nsecsElapsed()) / 1e6;

    // The window's list ping, with a timer that notes the longest stretch without
    // event handling while it runs.
    qint64 longestGapNs = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    ticker.start();
    sinceTick.start();
    clock.restart();
    w.Ping();
    const double listMs = double(clock.nsecsElapsed()) / 1e6;
    ticker.stop();

    int answered = 0;
    for (int r = 1; r < w.Grid1->Rows(); ++r)
        answered += w.Grid1->TextMatrix(r, 4).toInt() >= 0 && !w.Grid1->TextMatrix(r, 4).isEmpty();
    std::printf("list ping of %d loopback servers: %.1f ms in all (%d answered)\n", servers, listMs, answered);
    std::printf("the same %d echoes alone: %.1f ms (%.0f us each: open, echo, close)\n", servers,
                echoesMs, echoesMs * 1000 / servers);
    std::printf("per row beyond the echo (grid write, status text, event pump): %.0f us\n",
                (listMs - echoesMs) * 1000 / servers);
    std::printf("longest time without handling window events during the run: %.2f ms\n",
                double(longestGapNs) / 1e6);
    return 0;
}
