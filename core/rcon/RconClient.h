#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class QUdpSocket;

namespace tarvex {

// One Quake 2 remote-console exchange at a time with one server: sends
// "\xff\xff\xff\xffrcon PASSWORD COMMAND" over UDP and gathers the "print" answers,
// which a long answer spreads over several packets. The answer is complete once no
// packet has come for a short while after the last one; nothing at all within the
// answer time means the server did not answer. Only packets from the server's own
// address and port count. Everything runs on the event loop; finished() reports.
class RconClient : public QObject
{
    Q_OBJECT

public:
    enum class Result { Answered, BadPassword, NoAnswer, SendFailed };
    Q_ENUM(Result)

    RconClient(const QHostAddress &address, quint16 port, QObject *parent = nullptr);
    ~RconClient() override;

    // Why password or command cannot be sent, or empty when they can. The server reads
    // the packet as one console line: `;`, `"`, line breaks and control bytes would end
    // the command early or start another, a space would cut the password.
    static QString passwordProblem(const QString &password);
    static QString commandProblem(const QString &command);

    // Sends command; returns the refusal (and sends nothing) or empty when sent. A
    // command sent while another waits replaces it: the earlier one is reported as
    // unanswered no more.
    QString send(const QString &password, const QString &command);
    bool busy() const { return m_waiting; }
    void cancel();

    QHostAddress address() const { return m_address; }
    quint16 port() const { return m_port; }

    // The waits, in milliseconds: for a first answer (3 s) and the quiet after the last
    // packet that ends an answer (250 ms). Tests shorten them.
    void setTimings(int answerMs, int quietMs);

    // The exact datagram for password and command (checked by the caller).
    static QByteArray packet(const QString &password, const QString &command);

signals:
    // text: the gathered answer, or a sentence saying what went wrong.
    void finished(tarvex::RconClient::Result result, const QString &text);

private:
    void readPending();
    void finish(Result result, const QString &text);

    QHostAddress m_address;
    quint16 m_port;
    QUdpSocket *m_socket = nullptr;
    QTimer m_answerTimer;
    QTimer m_quietTimer;
    QByteArray m_gathered;
    int m_packets = 0;
    bool m_waiting = false;
};

} // namespace tarvex
