// tarvex-q2responder: answers Quake 2 status queries on loopback addresses, for the
// demo and the tests.
#include "MasterResponder.h"
#include "Q2Responder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

using tarvex::tools::Q2Responder;
using tarvex::tools::Q2ServerConfig;

namespace {

constexpr int DefaultLifetimeS = 3600;
constexpr int MaxLifetimeS = 86400;

int usageError(const QString &message)
{
    std::fprintf(stderr, "tarvex-q2responder: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-q2responder"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Answers Quake 2 status queries (as QStat sends them) on loopback UDP endpoints.\n"
        "Servers come from a configuration file (--config), from --server with the options "
        "after it, or both. Stops by itself after --lifetime-s seconds."));
    parser.addHelpOption();
    const QCommandLineOption configOption(
        QStringLiteral("config"),
        QStringLiteral("Configuration file: one [address:port] section per server with "
                       "info, player, mode, long-name-bytes and delay-ms keys."),
        QStringLiteral("file"));
    const QCommandLineOption serverOption(
        QStringLiteral("server"),
        QStringLiteral("One more server at this loopback address[:port] (port 27910 when "
                       "left out; 0 for any free port)."),
        QStringLiteral("address"));
    const QCommandLineOption infoOption(
        QStringLiteral("info"),
        QStringLiteral("Info string of the --server server, \\key\\value..."),
        QStringLiteral("text"),
        QStringLiteral("\\hostname\\Tarvex Test Server\\mapname\\base1\\maxclients\\16"));
    const QCommandLineOption playerOption(
        QStringLiteral("player"),
        QStringLiteral("A player of the --server server: 'FRAGS PING \"NAME\"' (repeatable)."),
        QStringLiteral("line"));
    const QCommandLineOption modeOption(
        QStringLiteral("mode"),
        QStringLiteral("normal, silent (never answer) or longname (add a player with a "
                       "very long name) for the --server server."),
        QStringLiteral("mode"), QStringLiteral("normal"));
    const QCommandLineOption longNameOption(
        QStringLiteral("long-name-bytes"),
        QStringLiteral("Length of the long player name (default 3000)."), QStringLiteral("n"),
        QStringLiteral("3000"));
    const QCommandLineOption lifetimeOption(
        QStringLiteral("lifetime-s"),
        QStringLiteral("Stop after this many seconds (1 to 86400, default 3600)."),
        QStringLiteral("s"), QString::number(DefaultLifetimeS));
    const QCommandLineOption farmOption(
        QStringLiteral("farm"),
        QStringLiteral("N more servers on 127.1.x.y addresses (all on --farm-port), named "
                       "\"Loopback Server <n>\"; --silent-percent of them never answer."),
        QStringLiteral("n"));
    const QCommandLineOption farmPortOption(
        QStringLiteral("farm-port"), QStringLiteral("Port of the --farm servers (default 27910)."),
        QStringLiteral("port"), QStringLiteral("27910"));
    const QCommandLineOption silentOption(
        QStringLiteral("silent-percent"),
        QStringLiteral("Share of the --farm servers that never answer (default 30)."),
        QStringLiteral("percent"), QStringLiteral("30"));
    const QCommandLineOption realisticOption(
        QStringLiteral("realistic"),
        QStringLiteral("Give the --farm servers the rules and 8 to 16 players of a busy server "
                       "(answers of 500 to 1,200 bytes)."));
    const QCommandLineOption masterOption(
        QStringLiteral("master"),
        QStringLiteral("Also be a master at this loopback address:port, listing --master-list."),
        QStringLiteral("address:port"));
    const QCommandLineOption masterListOption(
        QStringLiteral("master-list"),
        QStringLiteral("Addresses the master lists, comma-separated a.b.c.d:port."),
        QStringLiteral("list"));
    parser.addOptions({configOption, serverOption, infoOption, playerOption, modeOption,
                       longNameOption, lifetimeOption, farmOption, farmPortOption, silentOption,
                       realisticOption, masterOption, masterListOption});
    parser.process(app);

    QList<Q2ServerConfig> servers;
    if (parser.isSet(configOption)) {
        QFile file(parser.value(configOption));
        if (!file.open(QIODevice::ReadOnly))
            return usageError(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        QString error;
        const auto parsed = tarvex::tools::parseConfig(file.readAll(), &error);
        if (!parsed)
            return usageError(QStringLiteral("%1: %2").arg(file.fileName(), error));
        servers += *parsed;
    }
    if (parser.isSet(serverOption)) {
        QString wrapped = QStringLiteral("[%1]\n").arg(parser.value(serverOption));
        QString error;
        auto parsed = tarvex::tools::parseConfig(wrapped.toUtf8(), &error);
        if (!parsed || parsed->size() != 1)
            return usageError(QStringLiteral("--server: %1").arg(error));
        Q2ServerConfig server = parsed->first();
        server.info = parser.value(infoOption).toUtf8();
        for (const QString &line : parser.values(playerOption)) {
            const auto player = tarvex::tools::parsePlayer(line);
            if (!player)
                return usageError(
                    QStringLiteral("--player: expected 'FRAGS PING \"NAME\"', got %1").arg(line));
            server.players.append(*player);
        }
        const auto mode = tarvex::tools::parseMode(parser.value(modeOption));
        if (!mode)
            return usageError(QStringLiteral("--mode is normal, silent or longname"));
        server.mode = *mode;
        bool ok = false;
        server.longNameBytes = parser.value(longNameOption).toInt(&ok);
        if (!ok || server.longNameBytes < 1 || server.longNameBytes > 60000)
            return usageError(QStringLiteral("--long-name-bytes is 1 to 60000"));
        servers.append(server);
    }
    if (parser.isSet(farmOption)) {
        bool okCount = false, okPort = false, okSilent = false;
        const int count = parser.value(farmOption).toInt(&okCount);
        const uint port = parser.value(farmPortOption).toUInt(&okPort);
        const int silent = parser.value(silentOption).toInt(&okSilent);
        if (!okCount || count < 1 || count > 60000 || !okPort || port > 65535 || !okSilent
            || silent < 0 || silent > 100)
            return usageError(QStringLiteral(
                "--farm is 1 to 60000, --farm-port 0 to 65535, --silent-percent 0 to 100"));
        tarvex::tools::raiseOpenFileLimit(count + 64);
        servers += tarvex::tools::loopbackFarm(count, silent, quint16(port),
                                               parser.isSet(realisticOption));
    }
    if (servers.isEmpty() && !parser.isSet(masterOption))
        return usageError(QStringLiteral("no server given (--config or --server)"));

    bool ok = false;
    const int lifetime = parser.value(lifetimeOption).toInt(&ok);
    if (!ok || lifetime < 1 || lifetime > MaxLifetimeS)
        return usageError(QStringLiteral("--lifetime-s is 1 to %1").arg(MaxLifetimeS));

    Q2Responder responder;
    for (const Q2ServerConfig &server : servers) {
        QString error;
        if (!responder.addServer(server, &error)) {
            std::fprintf(stderr, "tarvex-q2responder: %s\n", qPrintable(error));
            return 1;
        }
    }
    tarvex::tools::MasterResponder master;
    if (parser.isSet(masterOption)) {
        const QString at = parser.value(masterOption);
        const qsizetype colon = at.lastIndexOf(QLatin1Char(':'));
        QString error;
        if (colon < 0
            || !master.listen(QHostAddress(at.left(colon)), quint16(at.mid(colon + 1).toUInt()),
                              &error))
            return usageError(
                QStringLiteral("--master %1: %2")
                    .arg(at, error.isEmpty() ? QStringLiteral("expected address:port") : error));
        master.setRecords(tarvex::tools::MasterResponder::records(
            parser.value(masterListOption).split(QLatin1Char(','), Qt::SkipEmptyParts)));
        std::printf("master on %s:%d\n", qPrintable(at.left(colon)), master.port());
    }
    for (const QString &endpoint : responder.endpoints())
        std::printf("listening on %s\n", qPrintable(endpoint));
    std::fflush(stdout);
    QTimer::singleShot(lifetime * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
