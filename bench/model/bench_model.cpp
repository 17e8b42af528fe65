// Figures for the server model: filling it with 65,536 answered servers (16 players
// and 20 rules each), sorting the view by each column both ways, and the process's
// peak resident memory afterwards.
//
// Run: build/bin/bench_model (or wherever the build puts it)
#include "core/model/ServerModel.h"
#include "core/status/StatusReply.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

using namespace tarvex;
using namespace tarvex::model;

namespace {

constexpr int Servers = 65536;

QByteArray statusDatagram(int i)
{
    QByteArray d = "\xff\xff\xff\xffprint\n";
    d += "\\hostname\\Server number " + QByteArray::number(i * 7919 % Servers);
    d += "\\mapname\\q2dm" + QByteArray::number(i % 8 + 1);
    d += "\\maxclients\\" + QByteArray::number(16 + i % 17);
    for (int r = 0; r < 17; ++r)
        d += "\\rule" + QByteArray::number(r) + "\\value" + QByteArray::number(i % 97 + r);
    d += '\n';
    const int players = 16;
    for (int p = 0; p < players; ++p)
        d += QByteArray::number((i + p) % 50) + ' ' + QByteArray::number(20 + p) + " \"Player"
            + QByteArray::number(p) + '_' + QByteArray::number(i % 1000) + "\"\n";
    return d;
}

long peakRssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const long rssBefore = peakRssKb();
    ServerModel model;
    ServerSortProxy proxy;
    proxy.setSourceModel(&model);

    // Only the model's own work is timed; reading the datagrams is the status query's.
    qint64 fillNs = 0;
    QElapsedTimer t;
    {
        ServerModel::Batch batch(model);
        t.start();
        model.reserve(Servers);
        fillNs += t.nsecsElapsed();
        for (int i = 0; i < Servers; ++i) {
            const auto answer = status::parseStatusReply(statusDatagram(i));
            if (!answer || answer->info.size() != 20 || answer->players.size() != 16) {
                std::fprintf(stderr, "bad test datagram\n");
                return 1;
            }
            const ServerKey key = ServerKey::fromAddress(0x0a000000u + quint32(i), 27910);
            const ListedTexts listed{{}, key.toString(), {}, {}, false};
            t.start();
            model.upsertListed(key, QStringLiteral("master"), listed);
            model.setAnswer(key, *answer, 10 + i % 300);
            model.setPing(key, 5 + i % 400);
            fillNs += t.nsecsElapsed();
        }
        t.start();
    }
    fillNs += t.nsecsElapsed(); // the view taking the reset
    std::printf("fill %d answered servers (16 players, 20 rules): %.1f ms\n", Servers,
                fillNs / 1e6);

    double worst = 0;
    for (int c = 0; c < ServerModel::ColumnCount; ++c) {
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            t.start();
            proxy.sort(c, order);
            const double ms = t.nsecsElapsed() / 1e6;
            worst = qMax(worst, ms);
            std::printf("sort by %-12s %-10s %.1f ms\n",
                        qPrintable(model.headerData(c, Qt::Horizontal).toString()),
                        order == Qt::AscendingOrder ? "ascending" : "descending", ms);
        }
    }
    std::printf("fill: %.1f ms, slowest sort: %.1f ms (goal for each: < 100 ms); both: %.1f ms\n",
                fillNs / 1e6, worst, fillNs / 1e6 + worst);
    const long peak = peakRssKb();
    std::printf("peak resident memory: %.1f MB (process start %.1f MB; goal < 200 MB)\n",
                peak / 1024.0, rssBefore / 1024.0);
    return 0;
}
