#include "MasterResponder.h"

#include <QNetworkDatagram>
#include <QStringList>
#include <QUdpSocket>
#include <QtEndian>

namespace tarvex::tools {

MasterResponder::MasterResponder(QObject *parent)
    : QObject(parent),
      m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &MasterResponder::readPending);
}

MasterResponder::~MasterResponder() = default;

bool MasterResponder::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (!address.isLoopback()) {
        if (error)
            *error = QStringLiteral("%1 is not a loopback address").arg(address.toString());
        return false;
    }
    if (!m_socket->bind(address, port)) {
        if (error)
            *error = m_socket->errorString();
        return false;
    }
    m_other = new QUdpSocket(this);
    m_other->bind(address, 0);
    return true;
}

quint16 MasterResponder::port() const { return m_socket->localPort(); }

QByteArray MasterResponder::records(const QStringList &addresses)
{
    QByteArray out;
    for (const QString &text : addresses) {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const QHostAddress ip(text.left(colon));
        const quint32 v4 = ip.toIPv4Address(&ok);
        const uint port = text.mid(colon + 1).toUInt();
        if (colon < 0 || !ok || port > 65535)
            continue;
        char record[6];
        qToBigEndian<quint32>(v4, record);
        qToBigEndian<quint16>(quint16(port), record + 4);
        out.append(record, 6);
    }
    return out;
}

void MasterResponder::readPending()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram query = m_socket->receiveDatagram(2048);
        if (!query.data().startsWith("query"))
            continue;
        ++m_queries;
        QByteArray reply = QByteArray("\xff\xff\xff\xffservers ", 12) + m_records;
        QUdpSocket *from = m_socket;
        switch (m_mode) {
        case Mode::Silent: continue;
        case Mode::FirstSilent:
            if (m_queries == 1)
                continue;
            break;
        case Mode::WrongPort: from = m_other; break;
        case Mode::Junk: reply = QByteArray(4000, 'x'); break;
        case Mode::Normal: break;
        }
        from->writeDatagram(reply, query.senderAddress(), quint16(query.senderPort()));
    }
}

} // namespace tarvex::tools
