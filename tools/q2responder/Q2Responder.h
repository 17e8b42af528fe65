#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class QUdpSocket;

namespace tarvex::tools {

// One player line of a status reply.
struct Q2Player
{
    int frags = 0;
    int ping = 0;
    QByteArray name;
};

// One Quake 2 server as the responder plays it.
struct Q2ServerConfig
{
    enum class Mode {
        Normal, // answer with the info string and the players
        Silent, // read the query, never answer
        LongName, // answer with one more player whose name is longNameBytes long
    };

    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 27910;
    QByteArray info; // "\key\value\key\value..."
    QList<Q2Player> players;
    Mode mode = Mode::Normal;
    int longNameBytes = 3000;
    int delayMs = 0;

    QString endpoint() const;
};

// Reads `frags ping "name"` (the quotes may be left out for a name without blanks).
std::optional<Q2Player> parsePlayer(const QString &text);
std::optional<Q2ServerConfig::Mode> parseMode(const QString &text);

// Reads a responder configuration: one server per section headed "[address]" or
// "[address:port]" (port 27910 when left out), with the keys info, player (once per
// player), mode (normal, silent, longname), long-name-bytes and delay-ms. Lines
// starting with "#" are comments. No value, with the reason in *error, on a bad line.
std::optional<QList<Q2ServerConfig>> parseConfig(const QByteArray &text, QString *error);

// count servers on consecutive loopback addresses from 127.1.0.1 on (last parts 0 and
// 255 skipped), all on port, each named "Loopback Server <n>"; silentPercent of them,
// spread evenly, are Silent. Realistic servers carry the rules a real server sends and 8
// to 16 players, for answers of 500 to 1,200 bytes.
QList<Q2ServerConfig> loopbackFarm(int count, int silentPercent, quint16 port,
                                   bool realistic = false);

// Lets this process hold more sockets than a desktop's default of 1024 (up to the
// hard limit): a farm binds one socket per server.
void raiseOpenFileLimit(int wanted);

// The datagram a Quake 2 server sends in answer to "status": the print header, the info
// string on one line, then one `frags ping "name"` line per player.
QByteArray statusReply(const Q2ServerConfig &server);

// Answers Quake 2 status queries on UDP for any number of loopback endpoints.
class Q2Responder final : public QObject
{
    Q_OBJECT

public:
    explicit Q2Responder(QObject *parent = nullptr);
    ~Q2Responder() override;

    // Binds the server's endpoint. Refuses addresses outside loopback. False with the
    // reason in *error when it cannot bind.
    bool addServer(const Q2ServerConfig &server, QString *error = nullptr);

    // Binds every server; stops at the first that fails.
    bool addServers(const QList<Q2ServerConfig> &servers, QString *error = nullptr);

    QStringList endpoints() const;
    int queryCount() const { return m_queries; }

signals:
    void queried(const QString &endpoint);

private:
    struct Endpoint
    {
        Q2ServerConfig config;
        QUdpSocket *socket;
    };
    void readPending(int index);

    QList<Endpoint> m_endpoints;
    int m_queries = 0;
};

} // namespace tarvex::tools
