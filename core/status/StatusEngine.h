#pragma once

#include "core/sources/ServerAddress.h"
#include "core/status/StatusReply.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <array>
#include <deque>
#include <queue>
#include <vector>

class QSocketNotifier;

namespace tarvex::status {

// Asks many Quake 2 servers for their status at once, from one non-blocking UDP socket of
// its own, without ever waiting: sends are paced by a timer, answers and ICMP errors
// arrive as socket notifications. Each server has one query in flight at a time (answers
// carry no nonce, so an answer is matched to its server by the sender's address and port).
//
// The pace adapts to the line: it starts with a burst and a high rate, and cuts the rate
// when the line shows it drops or queues answers (a server that answers only after a retry
// was sent, an answer after its time-out, round-trip times rising above the least seen),
// then raises it again while the line keeps up. Time-outs follow the round-trip times
// measured in the same refresh, never below a floor per attempt.
class StatusEngine final : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxAttempts = 8;

    struct Options
    {
        // One entry per attempt: the least time-out of that attempt. 800 ms covers a far
        // server (300 ms) behind a slow line with a full queue (a few hundred ms more);
        // an answer to an earlier attempt is still taken while a later one is out.
        QList<int> timeoutsMs{800, 800, 1000};
        int timeoutCeilingMs = 3000;
        int rttFactor = 3; // time-out: at least this many times the 95th percentile RTT
        int burst = 32; // queries sent at once at the start
        double startRate = 1000; // queries per second after the burst
        double minRate = 100; // never slower than this (the old fixed pace)
        double maxRate = 5000;
        int maxOutstanding = 4096; // servers with a query in flight
        bool adaptive = true; // false: always startRate
        // A rise of the smallest round-trip time of a control period over the smallest of
        // the refresh by more than this is a queue building up on the line.
        int queueDelayMs = 25;
    };

    // How the pacing went, for the tests and the benchmark.
    struct Pacing
    {
        double rate = 0; // queries per second now
        double lowestRate = 0; // since the first slowdown; 0 before
        double highestRate = 0;
        int sends = 0;
        int slowdowns = 0; // rate cuts
        int lossSignals = 0; // cuts for answers after a retry or after their time-out
        int queueSignals = 0; // cuts for rising round-trip times
        int laterAnswers = 0; // servers answered only after a time-out of theirs
        int timeoutP95Ms = 0; // the 95th percentile RTT the time-outs last followed
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
    const Pacing &pacing() const { return m_pacing; }
    // Queries sent so far to the target of that index of the last start(): above 1, an
    // answer's time was measured from a resend.
    int attempts(int index) const;

signals:
    // elapsedMs: from the send of the latest query to that server to its answer.
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
        std::array<qint64, MaxAttempts> sentAtMs{};
    };
    struct Deadline
    {
        qint64 atMs;
        int target;
        int attempt;
        bool operator>(const Deadline &o) const { return atMs > o.atMs; }
    };

    void tick();
    void expire(qint64 now);
    void control(qint64 now);
    void sendDue(qint64 now);
    void schedule(qint64 now);
    enum class Sent { Yes, Later, Settled };
    Sent send(int target);
    void readSocket();
    void readErrors();
    void take(int target, const QByteArray &datagram);
    void complete(int target, Outcome outcome, const ServerStatus *status = nullptr,
                  int elapsedMs = 0);
    void finishIfDone();
    void slowDown(double factor, qint64 now);
    double lineRate(qint64 now) const;
    double sendRate(qint64 now) const;
    bool queueRising(qint64 now);
    int timeoutFor(int attempt) const;
    void closeSocket();
    bool hasWork() const;

    Options m_options;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QList<Target> m_targets; // distinct addresses
    QList<QList<int>> m_indexesOf; // per target: the caller's indexes
    QList<int> m_targetOf; // per index: its target
    QHash<quint64, int> m_byKey; // address key -> target
    std::deque<int> m_retries; // timed out, to be sent again first
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<Deadline>> m_deadlines;
    QByteArray m_buffer;
    int m_next = 0; // next target never sent
    int m_outstanding = 0;
    int m_done = 0;
    bool m_running = false;
    bool m_ended = false; // the program's end was told: nothing starts any more

    // Pacing.
    Pacing m_pacing;
    double m_credit = 0; // sends allowed now
    qint64 m_lastTickMs = 0;
    qint64 m_periodStartMs = 0;
    qint64 m_lastCutMs = -1; // losses of queries sent before this were already answered for
    bool m_probing = true; // raising the rate fast until the first sign of a full line
    int m_periodLosses = 0;
    int m_periodAnswers = 0;
    int m_lastPeriodAnswers = 0;
    qint64 m_lastPeriodMs = 0;
    int m_firstAnswers = 0; // answers to a first query
    int m_firstTimeouts = 0; // first queries that timed out
    int m_periodMinRttMs = -1;
    int m_periodSamples = 0;
    int m_periodSends = 0;
    int m_lastPeriodSends = 0;
    std::deque<std::pair<qint64, int>> m_recentMinRtts; // per control period: end, least RTT
    std::vector<int> m_rtts; // first-attempt answers of the refresh
    int m_timeoutBaseMs = 0; // rttFactor x p95, at the last control period
};

} // namespace tarvex::status
