#include "core/rcon/SlotWatch.h"

#include "core/status/StatusReply.h"

#include <QUdpSocket>

namespace tarvex {

SlotWatch::SlotWatch(const QHostAddress &address, quint16 port, QObject *parent)
    : QObject(parent),
      m_address(address),
      m_port(port)
{
    m_askTimer.setInterval(m_intervalMs);
    connect(&m_askTimer, &QTimer::timeout, this, &SlotWatch::ask);
    m_tickTimer.setInterval(1000);
    connect(&m_tickTimer, &QTimer::timeout, this,
            [this] { emit waiting(m_ahead, secondsToNextAsk()); });
}

SlotWatch::~SlotWatch() = default;

void SlotWatch::setTimings(int intervalMs, int limitMs)
{
    m_intervalMs = qMax(intervalMs, m_floorMs);
    m_limitMs = qMax(limitMs, 0);
    m_askTimer.setInterval(m_intervalMs);
}

bool SlotWatch::start()
{
    stop();
    m_error.clear();
    if (!m_socket) {
        m_socket = new QUdpSocket(this);
        const bool v4 = m_address.protocol() == QAbstractSocket::IPv4Protocol;
        if (!m_socket->bind(v4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6, 0)) {
            m_error =
                QStringLiteral("Cannot open a network socket: %1").arg(m_socket->errorString());
            delete m_socket;
            m_socket = nullptr;
            return false;
        }
        connect(m_socket, &QUdpSocket::readyRead, this, &SlotWatch::readPending);
    }
    m_running = true;
    m_ahead = 0;
    m_since.start();
    m_askTimer.start();
    m_tickTimer.start();
    ask();
    return true;
}

void SlotWatch::stop()
{
    m_running = false;
    m_askTimer.stop();
    m_tickTimer.stop();
}

int SlotWatch::secondsToNextAsk() const
{
    if (!m_running || !m_sinceAsk.isValid())
        return 0;
    const qint64 left = m_intervalMs - m_sinceAsk.elapsed();
    return int(qMax<qint64>(0, (left + 999) / 1000));
}

void SlotWatch::ask()
{
    if (!m_running)
        return;
    if (m_since.elapsed() >= m_limitMs) {
        stop();
        emit gaveUp();
        return;
    }
    m_sinceAsk.start();
    m_socket->writeDatagram(status::statusQuery(), m_address, m_port);
}

void SlotWatch::readPending()
{
    // Bounded by what is queued now; the socket signals again for later packets.
    while (m_socket && m_socket->hasPendingDatagrams()) {
        QHostAddress from;
        quint16 fromPort = 0;
        QByteArray data(int(qMax<qint64>(m_socket->pendingDatagramSize(), 0)), '\0');
        const qint64 got = m_socket->readDatagram(data.data(), data.size(), &from, &fromPort);
        if (got < 0 || !m_running)
            continue;
        data.truncate(int(got));
        if (fromPort != m_port || !from.isEqual(m_address, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        const std::optional<status::ServerStatus> reply = status::parseStatusReply(data);
        if (!reply)
            continue;
        const QStringList counts = reply->playersText().split(u'/');
        bool okPlayers = false, okMax = false;
        const int players = counts.value(0).toInt(&okPlayers);
        const int maxClients = counts.value(1).toInt(&okMax);
        if (!okPlayers || !okMax || maxClients <= 0) {
            m_ahead = -1;
        } else if (players < maxClients) {
            stop();
            emit free(players, maxClients);
            return;
        } else {
            m_ahead = players - maxClients + 1;
        }
        emit waiting(m_ahead, secondsToNextAsk());
    }
}

} // namespace tarvex
