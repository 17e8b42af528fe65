#include "core/rcon/RconClient.h"

#include <QUdpSocket>

namespace tarvex {

namespace {

const QByteArray Header("\xff\xff\xff\xff", 4);
const QByteArray PrintHeader = Header + QByteArrayLiteral("print\n");
// The game reads at most about 1400 bytes of a packet; a longer command would be cut.
constexpr int MaxCommandBytes = 1000;
// An answer stops growing here: a server cannot make the client hold without limit.
constexpr int MaxAnswerBytes = 1 << 20;
constexpr int MaxPackets = 1000;

// The common refusals of both fields, with what the field is called in the message.
QString lineProblem(const QString &text, const QString &what)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n' || u == u'\r')
            return QStringLiteral("The %1 holds a line break, which the server would read as "
                                  "the end of the command; nothing was sent.")
                .arg(what);
        if (u < 0x20 || u == 0x7f)
            return QStringLiteral("The %1 holds a control character (code %2), which the server "
                                  "could read as a command of its own; nothing was sent.")
                .arg(what)
                .arg(int(u));
        if (u > 0xff)
            return QStringLiteral("The %1 holds \"%2\", a character the server cannot receive; "
                                  "nothing was sent.")
                .arg(what, c);
    }
    return {};
}

} // namespace

RconClient::RconClient(const QHostAddress &address, quint16 port, QObject *parent)
    : QObject(parent),
      m_address(address),
      m_port(port)
{
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(3000);
    m_quietTimer.setSingleShot(true);
    m_quietTimer.setInterval(250);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        finish(Result::NoAnswer,
               QStringLiteral("No answer from %1:%2 within %3 s.")
                   .arg(m_address.toString())
                   .arg(m_port)
                   .arg(m_answerTimer.interval() / 1000.0));
    });
    connect(&m_quietTimer, &QTimer::timeout, this, [this] {
        const QString text = QString::fromLatin1(m_gathered);
        finish(text.contains(QLatin1String("Bad rcon_password")) ? Result::BadPassword
                                                                 : Result::Answered,
               text);
    });
}

RconClient::~RconClient() = default;

QString RconClient::passwordProblem(const QString &password)
{
    if (password.isEmpty())
        return QStringLiteral("The password is empty; nothing was sent.");
    for (const QChar c : password) {
        if (c == u';' || c == u'"' || c == u' ')
            return QStringLiteral("The password holds %1, which would end it early on the "
                                  "server; nothing was sent.")
                .arg(c == u';'       ? QStringLiteral("a semicolon")
                         : c == u'"' ? QStringLiteral("a double quote")
                                     : QStringLiteral("a space"));
    }
    return lineProblem(password, QStringLiteral("password"));
}

QString RconClient::commandProblem(const QString &command)
{
    if (command.trimmed().isEmpty())
        return QStringLiteral("The command is empty; nothing was sent.");
    if (command.toLatin1().size() > MaxCommandBytes)
        return QStringLiteral("The command is longer than %1 characters; nothing was sent.")
            .arg(MaxCommandBytes);
    return lineProblem(command, QStringLiteral("command"));
}

QByteArray RconClient::packet(const QString &password, const QString &command)
{
    return Header + QByteArrayLiteral("rcon ") + password.toLatin1() + ' ' + command.toLatin1();
}

void RconClient::setTimings(int answerMs, int quietMs)
{
    m_answerTimer.setInterval(answerMs);
    m_quietTimer.setInterval(quietMs);
}

QString RconClient::send(const QString &password, const QString &command)
{
    QString problem = passwordProblem(password);
    if (problem.isEmpty())
        problem = commandProblem(command);
    if (!problem.isEmpty())
        return problem;
    cancel();
    if (!m_socket) {
        m_socket = new QUdpSocket(this);
        const bool v4 = m_address.protocol() == QAbstractSocket::IPv4Protocol;
        if (!m_socket->bind(v4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6, 0)) {
            const QString why = m_socket->errorString();
            delete m_socket;
            m_socket = nullptr;
            return QStringLiteral("Cannot open a network socket: %1").arg(why);
        }
        connect(m_socket, &QUdpSocket::readyRead, this, &RconClient::readPending);
    }
    const QByteArray datagram = packet(password, command);
    if (m_socket->writeDatagram(datagram, m_address, m_port) != datagram.size())
        return QStringLiteral("The command could not be sent to %1:%2: %3")
            .arg(m_address.toString())
            .arg(m_port)
            .arg(m_socket->errorString());
    m_waiting = true;
    m_answerTimer.start();
    return {};
}

void RconClient::cancel()
{
    m_waiting = false;
    m_answerTimer.stop();
    m_quietTimer.stop();
    m_gathered.clear();
    m_packets = 0;
}

void RconClient::readPending()
{
    // Bounded by what is queued now; the socket signals again for later packets.
    while (m_socket && m_socket->hasPendingDatagrams()) {
        QHostAddress from;
        quint16 fromPort = 0;
        QByteArray data(int(qMax<qint64>(m_socket->pendingDatagramSize(), 0)), '\0');
        const qint64 got = m_socket->readDatagram(data.data(), data.size(), &from, &fromPort);
        if (got < 0 || !m_waiting)
            continue;
        data.truncate(int(got));
        if (fromPort != m_port || !from.isEqual(m_address, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        if (!data.startsWith(PrintHeader))
            continue;
        if (m_packets < MaxPackets && m_gathered.size() < MaxAnswerBytes) {
            m_gathered += data.mid(PrintHeader.size()).left(MaxAnswerBytes - m_gathered.size());
            ++m_packets;
        }
        m_answerTimer.stop();
        m_quietTimer.start();
    }
}

void RconClient::finish(Result result, const QString &text)
{
    cancel();
    emit finished(result, text);
}

} // namespace tarvex
