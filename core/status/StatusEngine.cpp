#include "core/status/StatusEngine.h"

#include "core/Program.h"
#include "core/model/ServerKey.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QVariant>

#include <arpa/inet.h>
#include <cerrno>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tarvex::status {

namespace {
constexpr int ReceiveBufferBytes = 1 << 20;
constexpr int MaxDatagramBytes = 65536;
} // namespace

StatusEngine::StatusEngine(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StatusEngine::tick);
    // The program's end ends a refresh at once, whoever ends the program.
    connect(&Program::notifier(), &Program::Notifier::ending, this, &StatusEngine::cancel);
}

StatusEngine::~StatusEngine() = default;

bool StatusEngine::start(const QList<sources::ServerAddress> &targets, QString *error)
{
    if (Program::endRequested()) {
        if (error)
            *error = QStringLiteral("The program is ending.");
        return false;
    }
    if (m_running)
        cancel();
    closeSocket();
    m_targets.clear();
    m_indexesOf.clear();
    m_byKey.clear();
    m_retries.clear();
    m_deadlines.assign(size_t(std::max<qsizetype>(1, m_options.timeoutsMs.size())), {});
    m_next = m_outstanding = m_done = 0;

    for (int i = 0; i < targets.size(); ++i) {
        const quint64 key = targets[i].key();
        const auto known = m_byKey.constFind(key);
        if (known != m_byKey.constEnd()) {
            m_indexesOf[*known].append(i);
            continue;
        }
        m_byKey.insert(key, int(m_targets.size()));
        m_targets.append(Target{targets[i]});
        m_indexesOf.append(QList<int>{i});
    }

    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress::AnyIPv4, 0)) {
        if (error)
            *error = m_socket->errorString();
        closeSocket();
        return false;
    }
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                              QVariant(ReceiveBufferBytes));
    // ICMP errors for an unconnected socket arrive only with IP_RECVERR; a server whose
    // port is closed is then known down at once instead of after every time-out.
    const int on = 1;
    ::setsockopt(int(m_socket->socketDescriptor()), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    connect(m_socket, &QUdpSocket::readyRead, this, &StatusEngine::readAnswers);

    m_running = true;
    m_clock.start();
    emit progress(0, total());
    if (m_targets.isEmpty()) {
        m_running = false;
        closeSocket();
        emit finished(false);
        return true;
    }
    m_timer.start(std::max(0, m_options.intervalMs));
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
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void StatusEngine::tick()
{
    if (!m_running)
        return;
    const qint64 now = m_clock.elapsed();
    // Each attempt has one time-out, so the deadlines of one attempt fall due in the
    // order the queries went out.
    for (auto &queue : m_deadlines) {
        while (!queue.empty() && queue.front().atMs <= now) {
            const Deadline d = queue.front();
            queue.pop_front();
            Target &t = m_targets[d.target];
            if (t.state != State::InFlight || t.attempts != d.attempt)
                continue;
            --m_outstanding;
            t.state = State::Waiting;
            if (t.attempts < m_options.timeoutsMs.size())
                m_retries.push_back(d.target);
            else
                complete(d.target, Outcome::NoAnswer);
            if (!m_running)
                return;
        }
    }

    // One send per tick: a retry first, so that a slow server is settled before new
    // ones crowd it out.
    while (!m_retries.empty() && m_targets[m_retries.front()].state == State::Done)
        m_retries.pop_front();
    if (!m_retries.empty()) {
        const int target = m_retries.front();
        m_retries.pop_front();
        send(target);
    } else if (m_next < m_targets.size() && m_outstanding < m_options.maxOutstanding) {
        send(m_next++);
    }

    if (m_running && m_done == m_targets.size()) {
        m_running = false;
        m_timer.stop();
        closeSocket();
        emit finished(false);
    }
}

bool StatusEngine::send(int target)
{
    Target &t = m_targets[target];
    if (t.state == State::Done)
        return false; // settled: never asked again
    const QHostAddress to(t.address.ip);
    const QByteArray query = statusQuery();
    qint64 sent = m_socket->writeDatagram(query, to, t.address.port);
    if (sent < 0) {
        // A queued ICMP error fails the next send once: take it and try again.
        readErrors();
        if (!m_running || t.state == State::Done)
            return false;
        sent = m_socket->writeDatagram(query, to, t.address.port);
    }
    // A send refused locally (no route, a full buffer) counts as an attempt that
    // times out, so that a passing failure is tried again.
    ++t.attempts;
    t.state = State::InFlight;
    t.sentAtMs = m_clock.elapsed();
    ++m_outstanding;
    const int timeout = m_options.timeoutsMs.value(t.attempts - 1, 1000);
    m_deadlines[size_t(std::min<qsizetype>(t.attempts - 1, m_deadlines.size() - 1))].push_back(
        Deadline{target, t.attempts, t.sentAtMs + timeout});
    return sent >= 0;
}

void StatusEngine::readErrors()
{
    if (!m_socket)
        return;
    const int fd = int(m_socket->socketDescriptor());
    for (int guard = 0; guard < 4096 && m_running; ++guard) {
        char control[512];
        char data[64];
        sockaddr_in original{};
        iovec io{data, sizeof data};
        msghdr msg{};
        msg.msg_name = &original;
        msg.msg_namelen = sizeof original;
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
                continue;
            const auto *ee = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
            // Unreachable port, host or network: the server is not there. Other errors
            // (a fragmentation notice, say) say nothing about it.
            if (ee->ee_origin != SO_EE_ORIGIN_ICMP || ee->ee_type != 3 || ee->ee_code == 4)
                continue;
            const quint64 key = model::ServerKey::packAddress(ntohl(original.sin_addr.s_addr),
                                                              ntohs(original.sin_port));
            const auto it = m_byKey.constFind(key);
            if (it != m_byKey.constEnd() && m_targets[*it].state == State::InFlight) {
                --m_outstanding;
                complete(*it, Outcome::Down);
            }
        }
    }
}

void StatusEngine::readAnswers()
{
    readErrors();
    for (int guard = 0; guard < 4096 && m_running && m_socket && m_socket->hasPendingDatagrams();
         ++guard) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(MaxDatagramBytes);
        if (!datagram.isValid()) {
            readErrors();
            continue;
        }
        bool ok = false;
        const quint32 ip = datagram.senderAddress().toIPv4Address(&ok);
        if (!ok)
            continue;
        const auto it =
            m_byKey.constFind(model::ServerKey::packAddress(ip, quint16(datagram.senderPort())));
        // Only a server that was asked, and is not settled, takes an answer: an answer
        // from a listed address not asked yet is no answer to anything.
        if (it == m_byKey.constEnd() || m_targets[*it].state == State::Done
            || m_targets[*it].attempts == 0)
            continue;
        const std::optional<ServerStatus> status = parseStatusReply(datagram.data());
        if (!status)
            continue;
        // A late answer to an earlier attempt still settles the server.
        if (m_targets[*it].state == State::InFlight)
            --m_outstanding;
        complete(*it, Outcome::Answered, &*status);
    }
    if (m_running && m_done == m_targets.size())
        tick();
}

void StatusEngine::complete(int target, Outcome outcome, const ServerStatus *status)
{
    Target &t = m_targets[target];
    if (t.state == State::Done)
        return; // reported once; the count never passes the total
    t.state = State::Done;
    ++m_done;
    const int elapsed = int(m_clock.elapsed() - t.sentAtMs);
    for (int index : m_indexesOf[target]) {
        if (!m_running)
            return;
        if (outcome == Outcome::Answered)
            emit answered(index, *status, elapsed);
        else
            emit failed(index, outcome);
    }
    if (m_running)
        emit progress(m_done, total());
}

} // namespace tarvex::status
