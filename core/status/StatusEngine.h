#pragma once

#include "core/sources/ServerAddress.h"
#include "core/status/StatusReply.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <deque>
#include <vector>

class QUdpSocket;

namespace tarvex::status {

// Asks many Quake 2 servers for their status at once, from one UDP socket, without
// ever waiting: sends are paced by a timer, answers and ICMP errors arrive as socket
// events. Each server has one query in flight at a time (answers carry no nonce, so an
// answer is matched to its server by the sender's address and port).
class StatusEngine final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        int intervalMs = 10; // between two sends
        int maxOutstanding = 128; // servers with a query in flight
        QList<int> timeoutsMs{1000, 1500, 2000}; // one per attempt
    };

    enum class Outcome {
        Answered,
        Down, // an ICMP error (port unreachable and the like) came back
        NoAnswer, // every attempt timed out
    };
    Q_ENUM(Outcome)

    explicit StatusEngine(QObject *parent = nullptr);
    ~StatusEngine() override;

    void setOptions(const Options &options) { m_options = options; }
    const Options &options() const { return m_options; }

    // Starts asking every target; a running refresh is cancelled first. Reports each
    // target once through answered() or failed() (a target listed twice is asked once
    // and reported for each of its indexes), then finished(). False, with the reason,
    // when the socket cannot be opened.
    bool start(const QList<sources::ServerAddress> &targets, QString *error = nullptr);
    // Stops at once: no more sends, no more reports but finished(true).
    void cancel();
    bool isRunning() const { return m_running; }

    int total() const { return int(m_indexesOf.size()); }
    int done() const { return m_done; }

signals:
    void answered(int index, const tarvex::status::ServerStatus &status, int elapsedMs);
    void failed(int index, tarvex::status::StatusEngine::Outcome outcome);
    void progress(int done, int total);
    void finished(bool cancelled);

private:
    enum class State { Waiting, InFlight, Done };
    struct Target
    {
        sources::ServerAddress address;
        State state = State::Waiting;
        int attempts = 0;
        qint64 sentAtMs = 0;
    };
    struct Deadline
    {
        int target;
        int attempt;
        qint64 atMs;
    };

    void tick();
    bool send(int target);
    void readAnswers();
    void readErrors();
    void complete(int target, Outcome outcome, const ServerStatus *status = nullptr);
    void closeSocket();

    Options m_options;
    QUdpSocket *m_socket = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QList<Target> m_targets; // distinct addresses
    QList<QList<int>> m_indexesOf; // per target: the caller's indexes
    QHash<quint64, int> m_byKey; // address key -> target
    std::deque<int> m_retries; // timed out, to be sent again first
    std::vector<std::deque<Deadline>> m_deadlines; // per attempt, in send order
    int m_next = 0; // next target never sent
    int m_outstanding = 0;
    int m_done = 0;
    bool m_running = false;
};

} // namespace tarvex::status
