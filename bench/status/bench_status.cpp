// Figures for the list sources and the status refresh: parsing the largest text and
// binary lists, and the main window's status refresh of 1,000 loopback servers (30 % of
// them silent, answers of 500 to 1,200 bytes) answered by tarvex-q2responder, beside
// `quakestat -default q2s -f LIST` on the same list in the same run: whole time, time to
// 90 % of the answering rows, answers, CPU time, and the longest time the window went
// without handling events. A second run does the same in a private network namespace
// whose loopback is shaped to 2 Mbit/s (tbf, a small buffer); it needs root or user
// namespaces and says "skipped" without them.
//
// Run: QT_QPA_PLATFORM=offscreen build/bin/bench_status
#include "browser/frmTarvex.h"
#include "core/sources/ServerAddress.h"
#include "core/sources/SourceSettings.h"
#include "core/status/StatusEngine.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace tarvex;

namespace {

constexpr int Servers = 1000;
constexpr int SilentPercent = 30;
constexpr int Answering = Servers - Servers * SilentPercent / 100;
constexpr qint64 RunLimitMs = 60000;
const char QStatPath[] = "/usr/bin/quakestat";
bool withQStat = true; // --tarvex-only leaves QStat out

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

double cpuMs(int who)
{
    rusage u{};
    ::getrusage(who, &u);
    return (double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

struct Run
{
    double totalMs = 0;
    double to90Ms = -1; // -1: never reached
    double cpuMs = 0;
    double longestGapMs = -1; // Tarvex only
    int answered = 0;
};

// The window's refresh, with a 1 ms watchdog timer noting the longest gap between two of
// its ticks.
Run refreshTarvex(Window &w)
{
    qint64 longestGapNs = 0;
    QElapsedTimer sinceTick;
    QTimer watchdog;
    watchdog.setTimerType(Qt::PreciseTimer);
    watchdog.setInterval(1);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    QElapsedTimer clock;
    int answers = 0;
    double to90Ms = -1;
    const auto counting = QObject::connect(w.statusEngine(), &status::StatusEngine::answered,
                                           [&](int, const status::ServerStatus &, int) {
                                               if (++answers == Answering * 9 / 10)
                                                   to90Ms = double(clock.nsecsElapsed()) / 1e6;
                                           });
    const double cpuBefore = cpuMs(RUSAGE_SELF);
    clock.start();
    watchdog.start();
    sinceTick.start();
    w.cmdRefresh_Click();
    while (w.refreshRunning() && clock.elapsed() < RunLimitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Run r;
    r.totalMs = double(clock.nsecsElapsed()) / 1e6;
    r.cpuMs = cpuMs(RUSAGE_SELF) - cpuBefore;
    r.longestGapMs = double(longestGapNs) / 1e6;
    r.to90Ms = to90Ms;
    QObject::disconnect(counting);
    for (int row = 1; row < w.Grid1->Rows(); ++row)
        r.answered +=
            w.Grid1->TextMatrix(row, frmTarvex::ColName).startsWith(QLatin1String("Loopback"));
    return r;
}

// quakestat on the same list, its output line-buffered so that each answer is timed as
// it is printed.
Run refreshQStat(const QString &listFile)
{
    Run r;
    QProcess qstat;
    static const QRegularExpression answerLine(QStringLiteral("^\\S+:\\d+\\s+\\d+/\\d+"));
    QElapsedTimer clock;
    QByteArray pending;
    QObject::connect(&qstat, &QProcess::readyReadStandardOutput, [&] {
        pending += qstat.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLatin1(pending.left(end));
            pending.remove(0, end + 1);
            if (answerLine.match(line).hasMatch() && ++r.answered == Answering * 9 / 10)
                r.to90Ms = double(clock.nsecsElapsed()) / 1e6;
        }
    });
    QTimer wake; // the time limit is looked at even when QStat prints nothing
    wake.start(100);
    const double cpuBefore = cpuMs(RUSAGE_CHILDREN);
    clock.start();
    qstat.start(QStringLiteral("stdbuf"),
                {QStringLiteral("-oL"), QString::fromLatin1(QStatPath), QStringLiteral("-default"),
                 QStringLiteral("q2s"), QStringLiteral("-f"), listFile});
    while (qstat.state() != QProcess::NotRunning && clock.elapsed() < RunLimitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (qstat.state() != QProcess::NotRunning) {
        qstat.kill();
        qstat.waitForFinished(2000);
    }
    r.totalMs = double(clock.nsecsElapsed()) / 1e6;
    r.cpuMs = cpuMs(RUSAGE_CHILDREN) - cpuBefore;
    return r;
}

void print(const char *where, const char *who, const Run &r)
{
    std::printf("[%s] %-9s whole refresh %6.0f ms; 90 %% of the %d answering rows ", where, who,
                r.totalMs, Answering);
    if (r.to90Ms >= 0)
        std::printf("%6.0f ms", r.to90Ms);
    else
        std::printf("never");
    std::printf("; answered %d; CPU %4.0f ms", r.answered, r.cpuMs);
    if (r.longestGapMs >= 0)
        std::printf("; longest stretch without handling events %.1f ms", r.longestGapMs);
    std::printf("\n");
}

// Both refreshes of the 1,000 servers, in whatever network this process is in.
int measure(const char *where)
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return 1;
    const quint16 port = probe.localPort();
    probe.close();
    QProcess responder;
    responder.start(QStringLiteral(TARVEX_BIN_DIR "/tarvex-q2responder"),
                    {"--farm", QString::number(Servers), "--farm-port", QString::number(port),
                     "--silent-percent", QString::number(SilentPercent), "--realistic",
                     "--lifetime-s", "300"});
    QElapsedTimer wait;
    wait.start();
    qsizetype listening = 0;
    while (responder.state() != QProcess::NotRunning && listening < Servers
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
    for (int i = 0; i < Servers; ++i) {
        do
            ++ip;
        while ((ip & 0xff) == 0 || (ip & 0xff) == 0xff);
        favourites << sources::ServerAddress{ip, port}.toString();
    }
    QTemporaryDir dir;
    const QString listFile = dir.filePath(QStringLiteral("servers.txt"));
    QFile list(listFile);
    if (!dir.isValid() || !list.open(QIODevice::WriteOnly))
        return 1;
    list.write(favourites.join(QLatin1Char('\n')).toLatin1() + '\n');
    list.close();

    test::TempSettings settings;
    settings.writeIni("[Data]\nQuakeLocation=/games/quake2/quake2\nmnuPing=False\n");
    sources::saveSources(
        {{sources::SourceKind::Favourites, favourites.join(QLatin1Char(' ')), true}});
    Window w;
    w.show();

    const Run tarvexRun = refreshTarvex(w);
    print(where, "Tarvex", tarvexRun);
    const status::StatusEngine::Pacing &p = w.statusEngine()->pacing();
    std::printf("[%s] Tarvex pacing: %d sends, %d answered only after a time-out, rate %.0f to "
                "%.0f queries/s (lowest after a cut %.0f), %d cuts (%d for losses, %d for "
                "queues), time-outs from a p95 RTT of %d ms\n",
                where, p.sends, p.laterAnswers,
                std::max(1.0, w.statusEngine()->options().startRate), p.highestRate, p.lowestRate,
                p.slowdowns, p.lossSignals, p.queueSignals, p.timeoutP95Ms);
    QTest::qWait(1000); // let the line drain
    if (!withQStat)
        ;
    else if (QFile::exists(QString::fromLatin1(QStatPath)))
        print(where, "quakestat", refreshQStat(listFile));
    else
        std::printf("[%s] quakestat skipped: %s is not installed (package qstat)\n", where,
                    QStatPath);
    responder.kill();
    responder.waitForFinished(2000);
    return 0;
}

// Inside a private network namespace: its loopback up and shaped to 2 Mbit/s with a small
// buffer, then the same refreshes.
int measureShaped()
{
    const int up = QProcess::execute(QStringLiteral("ip"), {"link", "set", "lo", "up"});
    const int shaped = QProcess::execute(QStringLiteral("tc"),
                                         {"qdisc", "add", "dev", "lo", "root", "tbf", "rate",
                                          "2mbit", "burst", "16kbit", "latency", "50ms"});
    if (up != 0 || shaped != 0) {
        std::printf("[2 Mbit/s] skipped: cannot shape the namespace's loopback (ip %d, tc %d)\n",
                    up, shaped);
        return 0;
    }
    return measure("2 Mbit/s");
}

// Runs this program again in a private network namespace (as root, or as a user through
// a user namespace).
void runShaped(const QString &self)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    QStringList args;
    if (::geteuid() != 0)
        args << QStringLiteral("-r");
    args << QStringLiteral("-n") << self << QStringLiteral("--inside-shaped-namespace");
    std::fflush(stdout);
    child.start(QStringLiteral("unshare"), args);
    if (!child.waitForFinished(4 * RunLimitMs)) {
        child.kill();
        child.waitForFinished(2000);
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        std::printf("[2 Mbit/s] skipped: unshare -n failed (needs root or user namespaces): "
                    "%s\n",
                    child.readAllStandardError().trimmed().constData());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    withQStat = !args.contains(QStringLiteral("--tarvex-only"));
    if (args.contains(QStringLiteral("--inside-shaped-namespace")))
        return measureShaped();

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

    std::printf("status refresh of %d servers, %d %% silent, answers of 500-1,200 bytes, "
                "default settings:\n",
                Servers, SilentPercent);
    const int rc = measure("loopback");
    if (rc != 0)
        return rc;
    runShaped(QCoreApplication::applicationFilePath());
    return 0;
}
