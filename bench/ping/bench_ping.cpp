// bench_ping: figures for the Ping control, measured inside a private network namespace.
//  1. Round-trip time against a responder that answers after 47 ms: Send (each means) and
//     iputils ping in the same run, and how far apart they are; then a StartEchoes run of
//     as many echoes all outstanding together, against the same iputils mean.
//  2. "Timed Out": how long after TimeOut it comes.
//  3. The cost of one Send to loopback (open, echo, close), in microseconds.

#include "hosting/PingLoader.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <sched.h>
#include <unistd.h>
#include <vector>

namespace {

struct Stats
{
    double mean = 0, min = 0, max = 0;
};

Stats stats(std::vector<double> v)
{
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    s.mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
    return s;
}

bool sysctl(const char *path, const char *value)
{
    QFile f(QString::fromLatin1(path));
    return f.open(QIODevice::WriteOnly) && f.write(value) > 0;
}

tarvex::hosting::PingControl *g_ping = nullptr;

void set(const char *name, const QVariant &value) { g_ping->widget()->setProperty(name, value); }

QVariant sendTo(const char *host)
{
    set("HostName", QString::fromLatin1(host));
    QVariant result;
    QMetaObject::invokeMethod(g_ping->widget(), "Send", Qt::DirectConnection,
                              Q_RETURN_ARG(QVariant, result));
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
        std::printf(
            "bench_ping: needs root for a private network namespace (%s); nothing measured\n",
            std::strerror(errno));
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QProcess::execute(QStringLiteral("ip"),
                      {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                       QStringLiteral("up")});
    sysctl("/proc/sys/net/ipv4/ping_group_range", "0\t2147483647");

    tarvex::hosting::SearchPath search;
    search.folders << QStringLiteral(TARVEX_BIN_DIR);
    const tarvex::hosting::Loaded loaded = tarvex::hosting::loadPing(nullptr, search);
    if (!loaded.ping) {
        std::printf("bench_ping: %s\n", qPrintable(loaded.error));
        return 1;
    }
    g_ping = loaded.ping;
    const char *allMeans[] = {"datagram", "raw", "helper"};

    // 1. The delayed responder.
    sysctl("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
    QProcess responder;
    // At real-time priority, so that the emulated host's own wake-up does not count.
    responder.start(QStringLiteral("chrt"),
                    {QStringLiteral("--fifo"), QStringLiteral("10"),
                     QStringLiteral(TARVEX_BIN_DIR "/tarvex-icmp-responder"),
                     QStringLiteral("--delay"), QStringLiteral("47"), QStringLiteral("--seconds"),
                     QStringLiteral("120")});
    if (!responder.waitForReadyRead(5000)) {
        std::printf("bench_ping: the responder did not start\n");
        return 1;
    }
    responder.readAll();
    constexpr int kRounds = 20;
    QProcess ping;
    ping.start(QStringLiteral("ping"),
               {QStringLiteral("-n"), QStringLiteral("-c"), QString::number(kRounds),
                QStringLiteral("-i"), QStringLiteral("0.1"), QStringLiteral("127.0.0.1")});
    ping.waitForFinished(30000);
    std::vector<double> reference;
    const QRegularExpression time(QStringLiteral("time=([0-9.]+) ms"));
    for (auto it = time.globalMatch(QString::fromLocal8Bit(ping.readAllStandardOutput()));
         it.hasNext();)
        reference.push_back(it.next().captured(1).toDouble());
    const Stats ref = stats(reference);
    std::printf("Delayed responder (47 ms), %d echoes each:\n", kRounds);
    std::printf("  iputils ping          mean %6.2f ms  (min %.2f, max %.2f)\n", ref.mean, ref.min,
                ref.max);
    set("TimeOut", 1000);
    for (const char *means : allMeans) {
        set("IcmpMeans", QString::fromLatin1(means));
        std::vector<double> ours;
        double worst = 0;
        for (int i = 0; i < kRounds; ++i) {
            const QVariant r = sendTo("127.0.0.1");
            ours.push_back(r.toDouble());
            worst = std::max(worst, std::abs(r.toDouble() - ref.mean));
        }
        const Stats s = stats(ours);
        std::printf("  Send, %-8s        mean %6.2f ms  (min %.0f, max %.0f); |Send - ping mean| "
                    "<= %.2f ms\n",
                    means, s.mean, s.min, s.max, worst);
    }
    // The same echoes in one run, one request every EchoInterval (10 ms), all outstanding.
    for (const char *means : allMeans) {
        set("IcmpMeans", QString::fromLatin1(means));
        QSignalSpy results(g_ping, &tarvex::hosting::PingControl::echoResult);
        QSignalSpy finished(g_ping, &tarvex::hosting::PingControl::echoesFinished);
        QStringList hosts;
        for (int i = 0; i < kRounds; ++i)
            hosts << QStringLiteral("127.0.0.1");
        g_ping->startEchoes(hosts);
        if (!finished.wait(10000)) {
            std::printf("  StartEchoes, %s: the run did not finish\n", means);
            continue;
        }
        std::vector<double> ours;
        double worst = 0;
        for (const QList<QVariant> &r : results) {
            const QVariant v = r.at(2).value<QVariant>();
            if (v.metaType().id() != QMetaType::Int) {
                std::printf("  unexpected answer: %s\n", qPrintable(v.toString()));
                continue;
            }
            ours.push_back(v.toDouble());
            worst = std::max(worst, std::abs(v.toDouble() - ref.mean));
        }
        const Stats s = stats(ours);
        std::printf("  StartEchoes, %-8s mean %6.2f ms  (min %.0f, max %.0f); |run - ping mean| "
                    "<= %.2f ms (%zu of %d answered)\n",
                    means, s.mean, s.min, s.max, worst, ours.size(), kRounds);
    }
    responder.closeWriteChannel();
    responder.waitForFinished(3000);

    // 2. "Timed Out" against TimeOut.
    std::printf("\"Timed Out\" with TimeOut 200 ms, 10 sends each (how long after TimeOut):\n");
    set("TimeOut", 200);
    for (const char *means : allMeans) {
        set("IcmpMeans", QString::fromLatin1(means));
        std::vector<double> late;
        for (int i = 0; i < 10; ++i) {
            QElapsedTimer clock;
            clock.start();
            const QVariant r = sendTo("127.0.0.1");
            late.push_back(double(clock.nsecsElapsed()) / 1e6 - 200.0);
            if (r.toString() != QLatin1String("Timed Out"))
                std::printf("  unexpected answer: %s\n", qPrintable(r.toString()));
        }
        const Stats s = stats(late);
        std::printf("  %-8s  mean +%.2f ms, max +%.2f ms\n", means, s.mean, s.max);
    }

    // 3. The cost of one Send to loopback.
    sysctl("/proc/sys/net/ipv4/icmp_echo_ignore_all", "0");
    set("TimeOut", 1000);
    std::printf("Cost of one Send to 127.0.0.1 (open, echo, close):\n");
    for (const char *means : allMeans) {
        set("IcmpMeans", QString::fromLatin1(means));
        const int n = std::strcmp(means, "helper") == 0 ? 300 : 3000;
        sendTo("127.0.0.1"); // warm up
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < n; ++i)
            sendTo("127.0.0.1");
        std::printf("  %-8s  %.1f us per Send (%d sends)\n", means,
                    double(clock.nsecsElapsed()) / 1e3 / n, n);
    }
    delete g_ping->widget();
    return 0;
}
