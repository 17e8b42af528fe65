#include "core/status/StatusEngine.h"

#include "core/Program.h"
#include "core/model/ServerKey.h"
#include "core/net/IcmpErrors.h"

#include <QSocketNotifier>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvex::status {

namespace {
// Room for a few hundred answers while the event loop is busy elsewhere.
constexpr int ReceiveBufferBytes = 2 << 20;
constexpr int MaxDatagramBytes = 65536;
// Work done per notification or tick, so that the event loop is never held for long.
constexpr int MaxReadsPerNotification = 256;
constexpr int MaxSendsPerTick = 64;
// The pace is reconsidered this often while queries are waiting to be sent.
constexpr qint64 ControlPeriodMs = 50;
// Rate changes per control period: while probing the rate grows by a quarter, after the
// first sign of a full line by a twentieth (at least MinRaise). A loss cuts it harder
// than a queue.
constexpr double ProbeGain = 1.25;
constexpr double SteadyGain = 0.05;
constexpr double MinRaise = 20;
constexpr double LossCut = 0.6;
constexpr double QueueCut = 0.8;
constexpr qint64 MinQueueCutGapMs = 100;
constexpr double DrainShare = 0.9;
constexpr qint64 BaselineMs = 1000;
constexpr double FallingBehind = 0.9;

bool isPendingErrorErrno(int e)
{
    return e == ECONNREFUSED || e == EHOSTUNREACH || e == ENETUNREACH || e == EHOSTDOWN
        || e == ENETDOWN || e == EPROTO;
}
} // namespace

StatusEngine::StatusEngine(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &StatusEngine::tick);
    // The program's end ends a refresh at once, whoever ends the program.
    connect(&Program::notifier(), &Program::Notifier::ending, this, [this] {
        m_ended = true;
        cancel();
    });
}

StatusEngine::~StatusEngine() { closeSocket(); }

int StatusEngine::attempts(int index) const
{
    const int target = m_targetOf.value(index, -1);
    return target < 0 ? 0 : m_targets[target].attempts;
}

bool StatusEngine::start(const QList<sources::ServerAddress> &targets, QString *error)
{
    if (m_ended) {
        if (error)
            *error = QStringLiteral("The program is ending.");
        return false;
    }
    if (m_running)
        cancel();
    closeSocket();
    m_timer.stop();
    m_targets.clear();
    m_indexesOf.clear();
    m_targetOf.clear();
    m_byKey.clear();
    m_retries.clear();
    m_deadlines = {};
    m_next = m_outstanding = m_done = 0;

    for (int i = 0; i < targets.size(); ++i) {
        const quint64 key = targets[i].key();
        const auto known = m_byKey.constFind(key);
        if (known != m_byKey.constEnd()) {
            m_indexesOf[*known].append(i);
            m_targetOf.append(*known);
            continue;
        }
        m_byKey.insert(key, int(m_targets.size()));
        m_targetOf.append(int(m_targets.size()));
        m_targets.append(Target{targets[i]});
        m_indexesOf.append(QList<int>{i});
    }

    // A socket of its own rather than a QUdpSocket: a queued ICMP error makes the next
    // receive fail once, and every answer behind it must still be read.
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        closeSocket();
        return false;
    }
    // ICMP errors for an unconnected socket arrive only with IP_RECVERR; a server whose
    // port is closed is then known down at once instead of after every time-out.
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    const int size = ReceiveBufferBytes;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    m_buffer.resize(MaxDatagramBytes);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StatusEngine::readSocket);

    m_pacing = {};
    m_pacing.rate = m_pacing.highestRate = std::max(1.0, m_options.startRate);
    m_credit = std::max(1, m_options.burst);
    m_lastTickMs = m_periodStartMs = 0;
    m_lastCutMs = -1;
    m_probing = true;
    m_periodLosses = m_periodSamples = m_periodAnswers = m_lastPeriodAnswers = 0;
    m_periodSends = m_lastPeriodSends = 0;
    m_recentMinRtts.clear();
    m_firstAnswers = m_firstTimeouts = 0;
    m_lastPeriodMs = 0;
    m_periodMinRttMs = -1;
    m_rtts.clear();
    m_timeoutBaseMs = 0;

    m_running = true;
    m_clock.start();
    emit progress(0, total());
    if (m_targets.isEmpty()) {
        m_running = false;
        closeSocket();
        emit finished(false);
        return true;
    }
    tick();
    return true;
}

void StatusEngine::cancel()
{
    if (!m_running)
        return;
    m_running = false;
    m_timer.stop();
    closeSocket();
    emit finished(true);
}

void StatusEngine::closeSocket()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool StatusEngine::hasWork() const { return !m_retries.empty() || m_next < m_targets.size(); }

void StatusEngine::tick()
{
    if (!m_running)
        return;
    const qint64 now = m_clock.elapsed();
    expire(now);
    if (!m_running)
        return;
    if (m_options.adaptive && now - m_periodStartMs >= ControlPeriodMs)
        control(now);
    sendDue(now);
    finishIfDone();
    schedule(m_clock.elapsed());
}

void StatusEngine::expire(qint64 now)
{
    while (m_running && !m_deadlines.empty() && m_deadlines.top().atMs <= now) {
        const Deadline d = m_deadlines.top();
        m_deadlines.pop();
        Target &t = m_targets[d.target];
        if (t.state != State::InFlight || t.attempts != d.attempt)
            continue;
        --m_outstanding;
        t.state = State::Waiting;
        if (t.attempts == 1)
            ++m_firstTimeouts;
        if (t.attempts < std::min<qsizetype>(m_options.timeoutsMs.size(), MaxAttempts))
            m_retries.push_back(d.target);
        else
            complete(d.target, Outcome::NoAnswer);
    }
}

void StatusEngine::control(qint64 now)
{
    Pacing &p = m_pacing;
    const qint64 cutGap = std::max<qint64>(MinQueueCutGapMs, 2 * qint64(m_periodMinRttMs));
    const bool queue = queueRising(now);
    if (m_periodLosses > 0) {
        ++p.lossSignals;
        slowDown(LossCut, now);
    } else if (queue && now - m_lastCutMs >= cutGap) {
        ++p.queueSignals;
        slowDown(QueueCut, now);
    } else if (hasWork()) {
        p.rate = m_probing ? p.rate * ProbeGain : p.rate + std::max(MinRaise, p.rate * SteadyGain);
        p.rate = std::min(p.rate, std::max(m_options.minRate, m_options.maxRate));
        p.highestRate = std::max(p.highestRate, p.rate);
    }
    m_lastPeriodMs = now - m_periodStartMs;
    m_lastPeriodAnswers = m_periodAnswers;
    m_lastPeriodSends = m_periodSends;
    m_periodSends = 0;
    m_periodStartMs = now;
    m_periodLosses = m_periodSamples = m_periodAnswers = 0;
    m_periodMinRttMs = -1;

    if (!m_rtts.empty()) {
        std::vector<int> sorted = m_rtts;
        const auto at = sorted.begin() + qsizetype(sorted.size() * 95 / 100);
        std::nth_element(sorted.begin(), at, sorted.end());
        p.timeoutP95Ms = *at;
        m_timeoutBaseMs = m_options.rttFactor * *at;
    }
}

// What the line carried of late, in queries per second: the answers of the last two
// control periods, over the share of first queries answered (silent servers take queries
// and give nothing back).
double StatusEngine::lineRate(qint64 now) const
{
    const qint64 span = now - m_periodStartMs + m_lastPeriodMs;
    const int answers = m_periodAnswers + m_lastPeriodAnswers;
    if (span <= 0 || answers < 4)
        return m_pacing.rate;
    const int firstSettled = m_firstAnswers + m_firstTimeouts;
    const double share =
        firstSettled > 0 ? std::max(0.25, double(m_firstAnswers) / firstSettled) : 1.0;
    return double(answers) * 1000.0 / double(span) / share;
}

double StatusEngine::sendRate(qint64 now) const
{
    const qint64 span = now - m_periodStartMs + m_lastPeriodMs;
    return span > 0 ? double(m_periodSends + m_lastPeriodSends) * 1000.0 / double(span)
                    : m_pacing.rate;
}

// A queue building up at the line: the least round-trip time of this control period more
// than queueDelayMs above the least of the last second, while the line carries less than
// is sent. The baseline is recent rather than the refresh's, and the carried rate must
// fall behind, because servers differ in distance: a list that goes from near servers to
// far ones raises the round-trip times without any queue.
bool StatusEngine::queueRising(qint64 now)
{
    while (!m_recentMinRtts.empty() && m_recentMinRtts.front().first < now - BaselineMs)
        m_recentMinRtts.pop_front();
    int baseline = -1;
    for (const auto &[at, least] : m_recentMinRtts)
        baseline = baseline < 0 ? least : std::min(baseline, least);
    if (m_periodSamples > 0)
        m_recentMinRtts.emplace_back(now, m_periodMinRttMs);
    return m_periodSamples >= 3 && baseline >= 0
        && m_periodMinRttMs - baseline > m_options.queueDelayMs
        && lineRate(now) < FallingBehind * sendRate(now);
}

// A cut goes at least to a little under what the line carried of late, so that a queue
// built while probing drains at once.
void StatusEngine::slowDown(double factor, qint64 now)
{
    Pacing &p = m_pacing;
    p.rate = std::max(m_options.minRate, std::min(p.rate * factor, lineRate(now) * DrainShare));
    p.lowestRate = p.lowestRate > 0 ? std::min(p.lowestRate, p.rate) : p.rate;
    ++p.slowdowns;
    m_lastCutMs = now;
    m_probing = false;
    m_credit = std::min(m_credit, 1.0);
}

int StatusEngine::timeoutFor(int attempt) const
{
    const int floor = m_options.timeoutsMs.value(attempt, m_options.timeoutsMs.value(0, 1000));
    if (!m_options.adaptive)
        return floor;
    return std::max(floor, std::min(m_timeoutBaseMs, m_options.timeoutCeilingMs));
}

void StatusEngine::sendDue(qint64 now)
{
    const double burst = std::max(1, m_options.burst);
    m_credit = std::min(burst, m_credit + m_pacing.rate * double(now - m_lastTickMs) / 1000.0);
    m_lastTickMs = now;
    for (int sent = 0; sent < MaxSendsPerTick && m_running && m_credit >= 1
         && m_outstanding < m_options.maxOutstanding;) {
        while (!m_retries.empty() && m_targets[m_retries.front()].state == State::Done)
            m_retries.pop_front();
        // A retry first, so that a slow server is settled before new ones crowd it out.
        const bool retry = !m_retries.empty();
        if (!retry && m_next >= m_targets.size())
            break;
        const int target = retry ? m_retries.front() : m_next;
        if (retry)
            m_retries.pop_front();
        else
            ++m_next;
        const Sent result = send(target);
        if (result == Sent::Later) {
            // The send buffer is full: the same target goes first next time.
            if (retry)
                m_retries.push_front(target);
            else
                --m_next;
            break;
        }
        if (result == Sent::Yes) {
            m_credit -= 1;
            ++sent;
        }
    }
}

void StatusEngine::schedule(qint64 now)
{
    if (!m_running)
        return;
    while (!m_retries.empty() && m_targets[m_retries.front()].state == State::Done)
        m_retries.pop_front();
    qint64 wait = -1;
    if (hasWork() && m_outstanding < m_options.maxOutstanding) {
        const double missing = std::max(0.0, 1.0 - m_credit);
        wait = std::clamp<qint64>(qint64(std::ceil(missing * 1000.0 / m_pacing.rate)), 1,
                                  ControlPeriodMs);
    }
    if (!m_deadlines.empty()) {
        const qint64 due = std::max<qint64>(0, m_deadlines.top().atMs - now);
        wait = wait < 0 ? due : std::min(wait, due);
    }
    if (wait >= 0)
        m_timer.start(int(std::min<qint64>(wait, 60000)));
}

StatusEngine::Sent StatusEngine::send(int target)
{
    Target &t = m_targets[target];
    if (t.state == State::Done)
        return Sent::Settled;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(t.address.ip);
    to.sin_port = htons(t.address.port);
    static const QByteArray query = statusQuery();
    const auto sendOnce = [&] {
        return ::sendto(m_fd, query.constData(), size_t(query.size()), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr *>(&to), sizeof to);
    };
    ssize_t sent = sendOnce();
    if (sent < 0 && isPendingErrorErrno(errno)) {
        // A queued ICMP error (for whichever server) fails the next send once: take the
        // queue and try again.
        readErrors();
        if (!m_running || t.state == State::Done)
            return Sent::Settled;
        sent = sendOnce();
    }
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS))
        return Sent::Later;
    // A send refused locally (no route) counts as an attempt that times out, so that a
    // passing failure is tried again.
    const qint64 now = m_clock.elapsed();
    t.sentAtMs[size_t(t.attempts)] = now;
    ++t.attempts;
    t.state = State::InFlight;
    ++m_outstanding;
    ++m_pacing.sends;
    ++m_periodSends;
    m_deadlines.push(Deadline{now + timeoutFor(t.attempts - 1), target, t.attempts});
    return Sent::Yes;
}

void StatusEngine::readErrors()
{
    if (m_fd < 0)
        return;
    // Collected first and settled after the queue is read: a report's receivers may end
    // the refresh and close the socket.
    std::vector<int> down;
    net::readQueuedErrors(m_fd, MaxReadsPerNotification, [&](const net::QueuedError &e) {
        // Unreachable port, host or network: the server is not there. Other errors (a
        // fragmentation notice, say) say nothing about it.
        if (e.origin != SO_EE_ORIGIN_ICMP || e.type != 3 || e.code == 4)
            return;
        const auto it =
            m_byKey.constFind(model::ServerKey::packAddress(ntohl(e.destination), ntohs(e.port)));
        if (it != m_byKey.constEnd())
            down.push_back(*it);
    });
    for (int target : down) {
        if (!m_running)
            return;
        Target &t = m_targets[target];
        if (t.state == State::Done || t.attempts == 0)
            continue;
        if (t.state == State::InFlight)
            --m_outstanding;
        complete(target, Outcome::Down);
    }
}

void StatusEngine::readSocket()
{
    readErrors();
    for (int guard = 0; guard < MaxReadsPerNotification && m_running && m_fd >= 0; ++guard) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t got = ::recvfrom(m_fd, m_buffer.data(), size_t(m_buffer.size()), 0,
                                       reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            // A queued ICMP error is reported once by a receive: take the queue and go on
            // reading the answers behind it.
            if (errno != EINTR)
                readErrors();
            continue;
        }
        if (from.sin_family != AF_INET)
            continue;
        const auto it = m_byKey.constFind(
            model::ServerKey::packAddress(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)));
        if (it != m_byKey.constEnd())
            take(*it, QByteArray(m_buffer.constData(), qsizetype(got)));
    }
    finishIfDone();
    // Answers free room for more queries: send them without waiting for a time-out.
    if (m_running && hasWork() && m_timer.remainingTime() > 1)
        m_timer.start(1);
}

void StatusEngine::take(int target, const QByteArray &datagram)
{
    Target &t = m_targets[target];
    // Only a server that was asked, and is not settled, takes an answer: an answer from a
    // listed address not asked yet is no answer to anything.
    if (t.state == State::Done || t.attempts == 0)
        return;
    const std::optional<ServerStatus> status = parseStatusReply(datagram);
    if (!status)
        return;
    const qint64 now = m_clock.elapsed();
    // Answers carry no nonce, so an answer that comes after a resend cannot be told apart
    // from a late answer to the query before: its time is taken from the latest send (a
    // lower bound that is exact for the usual case, a lost query answered on its resend).
    const int rtt = int(now - t.sentAtMs[size_t(t.attempts - 1)]);
    const bool late = t.state == State::Waiting; // after its latest time-out
    const int missed = late ? t.attempts - 1 : t.attempts - 2; // an attempt with no answer
    ++m_periodAnswers;
    if (missed < 0 && !late)
        ++m_firstAnswers;
    if (missed >= 0) {
        ++m_pacing.laterAnswers;
        // Losses of queries sent before the last cut were answered for by that cut.
        if (t.sentAtMs[size_t(missed)] > m_lastCutMs)
            ++m_periodLosses;
    } else {
        m_rtts.push_back(rtt);
        m_periodMinRttMs = m_periodMinRttMs < 0 ? rtt : std::min(m_periodMinRttMs, rtt);
        ++m_periodSamples;
    }
    if (t.state == State::InFlight)
        --m_outstanding;
    complete(target, Outcome::Answered, &*status, rtt);
}

void StatusEngine::complete(int target, Outcome outcome, const ServerStatus *status, int elapsedMs)
{
    Target &t = m_targets[target];
    if (t.state == State::Done)
        return; // reported once; the count never passes the total
    t.state = State::Done;
    ++m_done;
    for (int index : m_indexesOf[target]) {
        if (!m_running)
            return;
        if (outcome == Outcome::Answered)
            emit answered(index, *status, elapsedMs);
        else
            emit failed(index, outcome);
    }
    if (m_running)
        emit progress(m_done, total());
}

void StatusEngine::finishIfDone()
{
    if (!m_running || m_done < m_targets.size())
        return;
    m_running = false;
    m_timer.stop();
    closeSocket();
    emit finished(false);
}

} // namespace tarvex::status
