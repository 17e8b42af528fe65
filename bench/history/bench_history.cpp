// Figures for the server history: the size of a database holding 90 days of 1,000
// servers refreshed every 5 minutes (generated: the older days at one refresh an hour,
// which gives the same hourly rows, the last 48 hours at every 5 minutes), the time one
// refresh of 1,000 servers takes to record, and the time both charts' data take for one
// server.
//
// Run: build/bin/bench_history [days] (default 90); it works in a temporary folder.
#include "core/history/HistoryStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace tarvex;
using namespace tarvex::history;

namespace {

constexpr int Servers = 1000;
constexpr qint64 Step = 300; // a refresh every 5 minutes

QList<Sample> refresh(qint64 at)
{
    QList<Sample> samples;
    samples.reserve(Servers);
    const double hourOfDay = double(at % 86400) / 3600;
    for (int i = 0; i < Servers; ++i) {
        const model::ServerKey key = model::ServerKey::fromAddress(0x0A000000 + i * 7, 27910);
        // One in ten servers is down at any time; the others fill up in the evening.
        if ((at / Step + i) % 10 == 0) {
            samples.append({key, false, 0, -1, {}});
            continue;
        }
        const int maxClients = 8 + i % 25;
        const double busy = 0.5 + 0.5 * std::sin((hourOfDay - 14 + i % 5) * M_PI / 12);
        samples.append({key, true, int(busy * maxClients), maxClients,
                        QStringLiteral("q2dm%1").arg((at / 1800 + i) % 8 + 1)});
    }
    return samples;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

qint64 onDisk(const QString &path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int days = argc > 1 ? std::max(3, atoi(argv[1])) : 90;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    HistoryStore store;
    store.setRetentionDays(days);
    if (!store.open(path)) {
        std::printf("cannot open: %s\n", qPrintable(store.note()));
        return 1;
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch() / Step * Step;
    const qint64 start = now - qint64(days) * 86400;
    const qint64 recent = now - HistoryStore::SampleKeepSecs;

    QElapsedTimer total;
    total.start();
    for (qint64 at = start; at < recent; at += 3600)
        store.record(refresh(at), at);
    QList<double> steady, hourly;
    for (qint64 at = recent; at <= now; at += Step) {
        const QList<Sample> samples = refresh(at);
        QElapsedTimer t;
        t.start();
        const bool ok = store.record(samples, at);
        const double ms = t.nsecsElapsed() / 1e6;
        if (!ok) {
            std::printf("record failed: %s\n", qPrintable(store.note()));
            return 1;
        }
        (at % 3600 < Step ? hourly : steady).append(ms);
    }
    std::printf("generated %d days of %d servers in %.1f s\n", days, Servers,
                total.elapsed() / 1000.0);
    std::printf("record one refresh of %d servers: median %.2f ms, max %.2f ms"
                " (first refresh of an hour, which sums up the last one: median %.2f ms,"
                " max %.2f ms)\n",
                Servers, median(steady), *std::max_element(steady.begin(), steady.end()),
                median(hourly), *std::max_element(hourly.begin(), hourly.end()));

    QList<double> charts;
    int points = 0, hours = 0;
    for (int i = 0; i < 100; ++i) {
        const model::ServerKey key = model::ServerKey::fromAddress(0x0A000000 + i * 70, 27910);
        QElapsedTimer t;
        t.start();
        const ChartData data = store.chartData(key, now);
        charts.append(t.nsecsElapsed() / 1e6);
        points += int(data.day.size());
        hours += int(std::count_if(data.avgByHour.begin(), data.avgByHour.end(),
                                   [](double v) { return v >= 0; }));
    }
    std::printf("both charts' data for one server: median %.2f ms, max %.2f ms"
                " (%d points, %d hours a server)\n",
                median(charts), *std::max_element(charts.begin(), charts.end()), points / 100,
                hours / 100);
    store.close();
    {
        // The size once the write-ahead log is folded back into the file.
        HistoryStore reopened;
        reopened.open(path);
    }
    std::printf("database after %d days: %.1f MB (with its log)\n", days, onDisk(path) / 1e6);
    return 0;
}
