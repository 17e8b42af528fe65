// Figures for the list sources and the status refresh: parsing the largest text and
// binary lists, and the main window's status refresh of 1,000 loopback servers (30 %
// of them silent) answered by tarvex-q2responder, with the longest time the window
// went without handling events.
//
// Run: QT_QPA_PLATFORM=offscreen build/bin/bench_status
#include "browser/frmTarvex.h"
#include "core/sources/ServerAddress.h"
#include "core/sources/SourceSettings.h"
#include "core/status/StatusEngine.h"
#include "ui/FlexGrid.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarvex;

namespace {

class Window : public frmTarvex
{
public:
    void showAboutSplash() override { }
    void Ping() override { }
};

template<typename F> double medianMs(int runs, F &&f)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

struct Run
{
    double totalMs;
    double longestGapMs;
    int answered;
};

Run refresh(Window &w)
{
    qint64 longestGapNs = 0;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    QElapsedTimer clock;
    clock.start();
    ticker.start();
    sinceTick.start();
    w.cmdRefresh_Click();
    QElapsedTimer guard;
    guard.start();
    while (w.refreshRunning() && guard.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    Run r{double(clock.nsecsElapsed()) / 1e6, double(longestGapNs) / 1e6, 0};
    for (int row = 1; row < w.Grid1->Rows(); ++row)
        r.answered +=
            w.Grid1->TextMatrix(row, frmTarvex::ColName).startsWith(QLatin1String("Loopback"));
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // The two list parsers on lists of the largest size taken.
    QByteArray binary, text;
    for (quint32 i = 0; i < quint32(sources::MaxListEntries); ++i) {
        const quint32 ip = 0x0a000001 + i * 4;
        char record[6];
        qToBigEndian(ip, record);
        qToBigEndian(quint16(27910 + i % 4), record + 4);
        binary.append(record, 6);
        text += QStringLiteral("%1.%2.%3.%4:%5\n")
                    .arg(ip >> 24)
                    .arg((ip >> 16) & 255)
                    .arg((ip >> 8) & 255)
                    .arg(ip & 255)
                    .arg(27910 + i % 4)
                    .toLatin1();
    }
    const double binaryMs = medianMs(7, [&] {
        if (sources::parseBinaryList(binary).addresses.size() != sources::MaxListEntries)
            std::abort();
    });
    const double textMs = medianMs(7, [&] {
        if (sources::parseTextList(text).addresses.size() != sources::MaxListEntries)
            std::abort();
    });
    std::printf("binary list of %d records: %.1f ms (median of 7)\n", sources::MaxListEntries,
                binaryMs);
    std::printf("text list of %d lines: %.1f ms (median of 7)\n", sources::MaxListEntries, textMs);

    // 1,000 servers in a responder process of their own, 30 % silent.
    const int servers = 1000;
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return 1;
    const quint16 port = probe.localPort();
    probe.close();
    QProcess responder;
    responder.start(QStringLiteral(TARVEX_BIN_DIR "/tarvex-q2responder"),
                    {"--farm", QString::number(servers), "--farm-port", QString::number(port),
                     "--silent-percent", "30", "--lifetime-s", "300"});
    QElapsedTimer wait;
    wait.start();
    qsizetype listening = 0;
    while (responder.state() != QProcess::NotRunning && listening < servers
           && wait.elapsed() < 20000) {
        responder.waitForReadyRead(200);
        listening += responder.readAllStandardOutput().count("listening");
    }
    if (responder.state() != QProcess::Running) {
        std::fprintf(stderr, "the responder did not start: %s\n",
                     responder.readAllStandardError().constData());
        return 1;
    }

    QStringList favourites;
    quint32 ip = (127u << 24) | (1u << 16);
    for (int i = 0; i < servers; ++i) {
        do
            ++ip;
        while ((ip & 0xff) == 0 || (ip & 0xff) == 0xff);
        favourites << sources::ServerAddress{ip, port}.toString();
    }
    test::TempSettings settings;
    settings.writeIni("[Data]\nQuakeLocation=/games/quake2/quake2\nmnuPing=False\n");
    sources::saveSources(
        {{sources::SourceKind::Favourites, favourites.join(QLatin1Char(' ')), true}});
    Window w;
    w.show();

    const Run byDefault = refresh(w);
    std::printf("status refresh of %d loopback servers, 30 %% silent, defaults (10 ms pacing, 128 "
                "outstanding, 1.0/1.5/2.0 s): %.0f ms, %d answered; longest time without "
                "handling window events: %.2f ms\n",
                servers, byDefault.totalMs, byDefault.answered, byDefault.longestGapMs);
    responder.kill();
    responder.waitForFinished(2000);
    return 0;
}
