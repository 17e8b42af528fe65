#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

class QUdpSocket;

namespace tarvex::tools {

// A Quake 2 master on a loopback port: answers "query\n\0" with one "servers " datagram
// of 6-byte records. Its modes give the answers a broken or hostile master can give.
class MasterResponder final : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Normal,
        Silent, // read the query, never answer
        FirstSilent, // ignore the first query, answer the next (a lost datagram)
        WrongPort, // answer from another port of the same address
        Junk, // answer with bytes that are no master answer
    };

    explicit MasterResponder(QObject *parent = nullptr);
    ~MasterResponder() override;

    // Port 0: any free one. Refuses addresses outside loopback.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0,
                QString *error = nullptr);
    quint16 port() const;

    // The records of the answer, as sent (so a test may send truncated or hostile ones).
    void setRecords(const QByteArray &records) { m_records = records; }
    void setMode(Mode mode) { m_mode = mode; }
    int queryCount() const { return m_queries; }

    // n × 6 bytes for the given "a.b.c.d:port" texts; bad texts are left out.
    static QByteArray records(const QStringList &addresses);

private:
    void readPending();

    QUdpSocket *m_socket;
    QUdpSocket *m_other = nullptr;
    QByteArray m_records;
    Mode m_mode = Mode::Normal;
    int m_queries = 0;
};

} // namespace tarvex::tools
