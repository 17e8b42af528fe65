#pragma once

#include <QHostAddress>
#include <QList>
#include <QUdpSocket>
#include <functional>

namespace tarvex::test {

// A game server stand-in on a loopback port of its own: every datagram that comes in is
// answered, to its sender, with the datagrams answer() gives for it.
class UdpAnswerer : public QObject
{
public:
    using Answer = std::function<QList<QByteArray>(const QByteArray &query, quint16 fromPort)>;

    explicit UdpAnswerer(Answer answer)
        : m_answer(std::move(answer))
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
            while (m_socket.hasPendingDatagrams()) {
                QHostAddress from;
                quint16 port = 0;
                QByteArray data(int(m_socket.pendingDatagramSize()), '\0');
                m_socket.readDatagram(data.data(), data.size(), &from, &port);
                for (const QByteArray &reply : m_answer(data, port))
                    m_socket.writeDatagram(reply, from, port);
            }
        });
    }
    quint16 port() const { return m_socket.localPort(); }

private:
    Answer m_answer;
    QUdpSocket m_socket;
};

} // namespace tarvex::test
