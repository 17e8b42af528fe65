#include "Q2Responder.h"

#include <QNetworkDatagram>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <sys/resource.h>

namespace tarvex::tools {

namespace {

const QByteArray PacketHeader("\xff\xff\xff\xff", 4);
const QByteArray StatusQuery = PacketHeader + "status";
// Datagrams above this size are not answered with more than this.
constexpr int MaxLongNameBytes = 60000;

std::optional<quint16> parsePort(const QString &text)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 65535)
        return std::nullopt;
    return quint16(value);
}

} // namespace

QString Q2ServerConfig::endpoint() const
{
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

std::optional<Q2Player> parsePlayer(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral(R"re(^\s*(-?\d+)\s+(-?\d+)\s+(?:"([^"]*)"|(\S+))\s*$)re"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    Q2Player player;
    player.frags = m.captured(1).toInt();
    player.ping = m.captured(2).toInt();
    player.name = (m.hasCaptured(3) ? m.captured(3) : m.captured(4)).toUtf8();
    return player;
}

std::optional<Q2ServerConfig::Mode> parseMode(const QString &text)
{
    if (text == QLatin1String("normal"))
        return Q2ServerConfig::Mode::Normal;
    if (text == QLatin1String("silent"))
        return Q2ServerConfig::Mode::Silent;
    if (text == QLatin1String("longname"))
        return Q2ServerConfig::Mode::LongName;
    return std::nullopt;
}

std::optional<QList<Q2ServerConfig>> parseConfig(const QByteArray &text, QString *error)
{
    QList<Q2ServerConfig> servers;
    const auto fail = [error](int line, const QString &why) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return std::nullopt;
    };
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        const int number = i + 1;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString endpoint = line.mid(1, line.size() - 2).trimmed();
            Q2ServerConfig server;
            const qsizetype colon = endpoint.lastIndexOf(QLatin1Char(':'));
            QString host = endpoint;
            if (colon >= 0) {
                const auto port = parsePort(endpoint.mid(colon + 1));
                if (!port)
                    return fail(number, QStringLiteral("bad port in %1").arg(endpoint));
                server.port = *port;
                host = endpoint.left(colon);
            }
            if (!server.address.setAddress(host))
                return fail(number, QStringLiteral("bad address %1").arg(host));
            servers.append(server);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            return fail(number, QStringLiteral("expected key = value"));
        if (servers.isEmpty())
            return fail(number, QStringLiteral("a [address:port] section must come first"));
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        Q2ServerConfig &server = servers.last();
        if (key == QLatin1String("info")) {
            server.info = value.toUtf8();
        } else if (key == QLatin1String("player")) {
            const auto player = parsePlayer(value);
            if (!player)
                return fail(number, QStringLiteral("expected player = FRAGS PING \"NAME\""));
            server.players.append(*player);
        } else if (key == QLatin1String("mode")) {
            const auto mode = parseMode(value);
            if (!mode)
                return fail(number, QStringLiteral("mode is normal, silent or longname"));
            server.mode = *mode;
        } else if (key == QLatin1String("long-name-bytes")) {
            bool ok = false;
            server.longNameBytes = value.toInt(&ok);
            if (!ok || server.longNameBytes < 1 || server.longNameBytes > MaxLongNameBytes)
                return fail(number,
                            QStringLiteral("long-name-bytes is 1 to %1").arg(MaxLongNameBytes));
        } else if (key == QLatin1String("delay-ms")) {
            bool ok = false;
            server.delayMs = value.toInt(&ok);
            if (!ok || server.delayMs < 0 || server.delayMs > 60000)
                return fail(number, QStringLiteral("delay-ms is 0 to 60000"));
        } else {
            return fail(number, QStringLiteral("unknown key %1").arg(key));
        }
    }
    return servers;
}

QByteArray statusReply(const Q2ServerConfig &server)
{
    QByteArray reply = PacketHeader + "print\n" + server.info + '\n';
    const auto addPlayer = [&reply](const Q2Player &p) {
        reply += QByteArray::number(p.frags) + ' ' + QByteArray::number(p.ping) + " \"" + p.name
            + "\"\n";
    };
    for (const Q2Player &p : server.players)
        addPlayer(p);
    if (server.mode == Q2ServerConfig::Mode::LongName)
        addPlayer({0, 999, QByteArray(qBound(1, server.longNameBytes, MaxLongNameBytes), 'W')});
    return reply;
}

namespace {

// A busy server's answer: the usual rules sorted by key, 8 to 16 players, and a message
// of the day that brings the answer to a size spread over 500 to 1,200 bytes.
void makeRealistic(Q2ServerConfig &s, int i)
{
    s.info = "\\cheats\\0\\deathmatch\\1\\dmflags\\16\\fraglimit\\30\\gamename\\baseq2"
             "\\hostname\\Loopback Server "
        + QByteArray::number(i + 1) + "\\mapname\\q2dm" + QByteArray::number(i % 8 + 1)
        + "\\maxclients\\16\\needpass\\0\\timelimit\\20";
    s.players.clear();
    for (int p = 0; p < 8 + i % 9; ++p)
        s.players.append({(p * 7 + i) % 40 - 3, 30 + (p * 13 + i) % 120,
                          "player" + QByteArray::number(p) + QByteArray((p + i) % 12, 'x')});
    const QByteArray version = "\\version\\8.71pre x86_64 Dec  9 2026 Linux";
    const int wanted = 500 + (i * 263) % 701;
    const int without = int(statusReply(s).size() + version.size()) + 6;
    s.info += "\\motd\\" + QByteArray(std::max(1, wanted - without), 'm') + version;
}

} // namespace

QList<Q2ServerConfig> loopbackFarm(int count, int silentPercent, quint16 port, bool realistic)
{
    QList<Q2ServerConfig> servers;
    quint32 ip = (127u << 24) | (1u << 16);
    for (int i = 0; i < count; ++i) {
        do
            ++ip;
        while ((ip & 0xff) == 0 || (ip & 0xff) == 0xff);
        Q2ServerConfig s;
        s.address = QHostAddress(ip);
        s.port = port;
        s.info = "\\hostname\\Loopback Server " + QByteArray::number(i + 1) + "\\mapname\\q2dm"
            + QByteArray::number(i % 8 + 1) + "\\maxclients\\16";
        for (int p = 0; p < i % 5; ++p)
            s.players.append({p * 3, 40 + p, "player" + QByteArray::number(p)});
        if (realistic)
            makeRealistic(s, i);
        if ((i * silentPercent) % 100 < silentPercent)
            s.mode = Q2ServerConfig::Mode::Silent;
        servers.append(s);
    }
    return servers;
}

void raiseOpenFileLimit(int wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= rlim_t(wanted))
        return;
    limit.rlim_cur = std::min<rlim_t>(rlim_t(wanted), limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

bool Q2Responder::addServers(const QList<Q2ServerConfig> &servers, QString *error)
{
    for (const Q2ServerConfig &server : servers) {
        if (!addServer(server, error))
            return false;
    }
    return true;
}

Q2Responder::Q2Responder(QObject *parent)
    : QObject(parent)
{ }

Q2Responder::~Q2Responder() = default;

bool Q2Responder::addServer(const Q2ServerConfig &server, QString *error)
{
    if (!server.address.isLoopback()) {
        if (error)
            *error = QStringLiteral("%1 is not a loopback address").arg(server.address.toString());
        return false;
    }
    auto *socket = new QUdpSocket(this);
    if (!socket->bind(server.address, server.port)) {
        if (error)
            *error =
                QStringLiteral("cannot bind %1: %2").arg(server.endpoint(), socket->errorString());
        delete socket;
        return false;
    }
    Q2ServerConfig bound = server;
    bound.port = socket->localPort();
    const int index = int(m_endpoints.size());
    m_endpoints.append({bound, socket});
    connect(socket, &QUdpSocket::readyRead, this, [this, index] { readPending(index); });
    return true;
}

QStringList Q2Responder::endpoints() const
{
    QStringList list;
    for (const Endpoint &e : m_endpoints)
        list.append(e.config.endpoint());
    return list;
}

void Q2Responder::readPending(int index)
{
    const Endpoint &endpoint = m_endpoints[index];
    QUdpSocket *socket = endpoint.socket;
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram query = socket->receiveDatagram(2048);
        if (!query.data().startsWith(StatusQuery))
            continue;
        ++m_queries;
        emit queried(endpoint.config.endpoint());
        if (endpoint.config.mode == Q2ServerConfig::Mode::Silent)
            continue;
        const QByteArray reply = statusReply(endpoint.config);
        const QHostAddress to = query.senderAddress();
        const quint16 toPort = quint16(query.senderPort());
        if (endpoint.config.delayMs <= 0) {
            socket->writeDatagram(reply, to, toPort);
            continue;
        }
        const QPointer<QUdpSocket> guard(socket);
        QTimer::singleShot(endpoint.config.delayMs, this, [guard, reply, to, toPort] {
            if (guard)
                guard->writeDatagram(reply, to, toPort);
        });
    }
}

} // namespace tarvex::tools
