// ICMP that is not the answer to the Ping control's request: an echo reply carrying another
// process's identifier, or our identifier with another sequence (a late answer to an
// earlier request). The control must let it pass and keep waiting, to "Timed Out" or to
// the true answer when that comes after it, by every means (ping socket, raw socket,
// helper program), for one Send and for a StartEchoes run of many hosts.
//
// The network is the test's own: a network namespace entered before anything else runs,
// with only its loopback, where the kernel's echo answers are turned off and a responder
// thread of this test answers instead. Needs root (CI runs as root); elsewhere those
// cases skip and say why. The decoding cases at the end need nothing.

#include "../ping/PingTestSupport.h"
#include "ping/icmp/IcmpEcho.h"
#include "ping/icmp/IpStatus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace pingtest;

namespace {

struct PrivateNetwork
{
    bool ready = false;
    QString whyNot;
};
PrivateNetwork g_net;

// Runs before QApplication, while the process has a single thread.
void enterPrivateNetwork()
{
    if (geteuid() != 0) {
        g_net.whyNot =
            QStringLiteral("needs root for a private network namespace (CI runs as root)");
        return;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        g_net.whyNot = QStringLiteral("unshare(CLONE_NEWNET) is not allowed here: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // Loopback up, without depending on the ip program.
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = false;
    if (s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0) {
        ifr.ifr_flags |= IFF_UP;
        up = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    }
    if (s >= 0)
        close(s);
    if (!up) {
        g_net.whyNot = QStringLiteral("cannot bring up the private loopback");
        return;
    }
    g_net.ready = true;
}

bool writeSysctl(const char *path, const char *value)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::WriteOnly) && file.write(value) > 0;
}

// Another process on the same host, as far as the control can tell: it answers every echo
// request at once with a reply that is not ours (another identifier, or another sequence)
// and, when asked to, sends the true reply trueAfterMs later. Crowd answers each request
// with all three strangers (another identifier, another sequence, and the right identifier
// and sequence from the next address up), then the true reply trueAfterMs + 4 ms for each
// step of the destination above 127.0.0.10, so every host of a run has its own time.
class StrangeResponder
{
public:
    enum class Strange { OtherIdentifier, OtherSequence, Crowd };

    bool start(Strange strange, int trueAfterMs)
    {
        m_strange = strange;
        m_trueAfterMs = trueAfterMs;
        m_fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd < 0 || pipe2(m_stop, O_CLOEXEC) != 0)
            return false;
        m_thread = std::thread([this] { run(); });
        return true;
    }

    ~StrangeResponder()
    {
        if (m_thread.joinable()) {
            const char byte = 0;
            (void)!write(m_stop[1], &byte, 1);
            m_thread.join();
        }
        for (int fd : {m_fd, m_stop[0], m_stop[1]}) {
            if (fd >= 0)
                close(fd);
        }
    }

    int strangeRepliesSent() const { return m_strangeSent; }
    int trueRepliesSent() const { return m_trueSent; }

private:
    using Clock = std::chrono::steady_clock;
    struct Pending
    {
        Clock::time_point due;
        sockaddr_in to;
        std::vector<unsigned char> icmp;
        uint32_t source;
    };

    // source (network order): the reply's source address, 0 for the kernel's choice.
    void reply(const sockaddr_in &to, std::vector<unsigned char> icmp, uint32_t source = 0)
    {
        icmp[0] = 0; // echo reply
        icmp[2] = icmp[3] = 0;
        const uint16_t sum = pingocx::icmp::internetChecksum(icmp.data(), icmp.size());
        std::memcpy(&icmp[2], &sum, 2);
        iovec iov{icmp.data(), icmp.size()};
        msghdr msg{};
        msg.msg_name = const_cast<sockaddr_in *>(&to);
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        if (source != 0) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr *c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_spec_dst.s_addr = source;
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
        }
        (void)sendmsg(m_fd, &msg, 0);
    }

    void run()
    {
        // Bounded: at most 30 s and 1000 requests, whatever the test does.
        const Clock::time_point end = Clock::now() + std::chrono::seconds(30);
        std::deque<Pending> pending;
        for (int requests = 0; requests < 1000;) {
            const Clock::time_point now = Clock::now();
            if (now >= end)
                break;
            // Counted before sending: the control may be done with a reply before the
            // sender's next step.
            while (!pending.empty() && pending.front().due <= now) {
                ++m_trueSent;
                reply(pending.front().to, pending.front().icmp, pending.front().source);
                pending.pop_front();
            }
            const Clock::time_point wake =
                pending.empty() ? end : std::min(end, pending.front().due);
            const auto waitMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count() + 1;
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            const int ready = poll(fds, 2, int(waitMs));
            if (ready < 0 && errno != EINTR)
                break;
            if (ready <= 0)
                continue;
            if (fds[1].revents)
                break;
            unsigned char buf[1500];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = recvfrom(m_fd, buf, sizeof buf, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (n < 20)
                continue;
            const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
            if (std::size_t(n) < ihl + 8 || buf[ihl] != 8) // echo requests only
                continue;
            ++requests;
            const std::vector<unsigned char> request(buf + ihl, buf + n);
            uint32_t destination = 0; // network order, from the request's IP header
            std::memcpy(&destination, buf + 16, 4);
            int trueAfterMs = m_trueAfterMs;
            std::vector<unsigned char> strange = request;
            if (m_strange == Strange::OtherIdentifier) {
                strange[4] ^= 0x80; // bytes 4-5: identifier
            } else {
                strange[7] ^= 0x01; // bytes 6-7: sequence
            }
            ++m_strangeSent;
            reply(from, strange, destination);
            if (m_strange == Strange::Crowd) {
                strange = request;
                strange[4] ^= 0x80;
                reply(from, strange, destination);
                reply(from, request, htonl(ntohl(destination) + 1));
                m_strangeSent += 2;
                trueAfterMs += 4 * (int(ntohl(destination) & 0xFF) - 10);
            }
            if (trueAfterMs >= 0)
                pending.push_back({Clock::now() + std::chrono::milliseconds(trueAfterMs), from,
                                   request, destination});
        }
    }

    Strange m_strange = Strange::OtherIdentifier;
    int m_trueAfterMs = -1;
    int m_fd = -1;
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<int> m_strangeSent{0};
    std::atomic<int> m_trueSent{0};
};

// An ICMP message with its checksum.
std::vector<unsigned char> icmpMessage(uint8_t type, uint8_t code,
                                       const std::vector<unsigned char> &rest)
{
    std::vector<unsigned char> m{type, code, 0, 0};
    m.insert(m.end(), rest.begin(), rest.end());
    const uint16_t sum = pingocx::icmp::internetChecksum(m.data(), m.size());
    std::memcpy(&m[2], &sum, 2);
    return m;
}

// An IPv4 header (no options) from 127.0.0.1 to 127.0.0.1, then payload.
std::vector<unsigned char> ipPacket(const std::vector<unsigned char> &payload)
{
    std::vector<unsigned char> p{0x45, 0, 0,   0, 0, 0, 0x40, 0, 64, IPPROTO_ICMP,
                                 0,    0, 127, 0, 0, 1, 127,  0, 0,  1};
    const uint16_t total = htons(uint16_t(20 + payload.size()));
    std::memcpy(&p[2], &total, 2);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

} // namespace

class tst_ForeignReply : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void strangeRepliesAreIgnored_data();
    void strangeRepliesAreIgnored();
    void strangeRepliesAreIgnoredInARun_data();
    void strangeRepliesAreIgnoredInARun();
    void decodingTakesOnlyWhatIsOurs_data();
    void decodingTakesOnlyWhatIsOurs();
    void cutShortErrorReportIsSkipped();
};

void tst_ForeignReply::initTestCase()
{
    if (!g_net.ready)
        return;
    // Only the responder answers; everybody may open ping sockets.
    QVERIFY(writeSysctl("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"));
    QVERIFY(writeSysctl("/proc/sys/net/ipv4/ping_group_range", "0\t2147483647"));
}

void tst_ForeignReply::strangeRepliesAreIgnored_data()
{
    QTest::addColumn<QString>("means");
    QTest::addColumn<int>("strange");
    QTest::addColumn<int>("trueAfterMs"); // -1: no true answer, the wait ends "Timed Out"

    for (const char *means : {"datagram", "raw", "helper"}) {
        QTest::addRow("%s: another process's identifier", means)
            << QString::fromLatin1(means) << int(StrangeResponder::Strange::OtherIdentifier) << -1;
        QTest::addRow("%s: another process's identifier, then the answer", means)
            << QString::fromLatin1(means) << int(StrangeResponder::Strange::OtherIdentifier) << 80;
        QTest::addRow("%s: another sequence", means)
            << QString::fromLatin1(means) << int(StrangeResponder::Strange::OtherSequence) << -1;
    }
}

void tst_ForeignReply::strangeRepliesAreIgnored()
{
    if (!g_net.ready)
        QSKIP(qPrintable(g_net.whyNot));
    QFETCH(QString, means);
    QFETCH(int, strange);
    QFETCH(int, trueAfterMs);

    StrangeResponder responder;
    QVERIFY(responder.start(StrangeResponder::Strange(strange), trueAfterMs));
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "IcmpMeans", means));
    QVERIFY(set(ping.get(), "TimeOut", 400));
    QVERIFY(set(ping.get(), "HostName", QStringLiteral("127.0.0.1")));

    QElapsedTimer clock;
    clock.start();
    const QVariant result = send(ping.get());
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(get(ping.get(), "LastMeans").toString(), means);
    QCOMPARE(responder.strangeRepliesSent(), 1);
    if (trueAfterMs < 0) {
        QCOMPARE(result, QVariant(QStringLiteral("Timed Out")));
        QVERIFY2(elapsed >= 399 && elapsed < 400 + 400, qPrintable(QString::number(elapsed)));
    } else {
        // The strange reply came at once; the answer counted is the true one after it.
        QCOMPARE(result.metaType().id(), int(QMetaType::Int));
        QVERIFY2(result.toInt() >= trueAfterMs - 2 && result.toInt() < 400,
                 qPrintable(result.toString()));
        QCOMPARE(responder.trueRepliesSent(), 1);
    }
    QCOMPARE(get(ping.get(), "IPAddress").toString(), QStringLiteral("127.0.0.1"));
}

void tst_ForeignReply::strangeRepliesAreIgnoredInARun_data()
{
    QTest::addColumn<QString>("means");
    for (const char *means : {"datagram", "raw", "helper"})
        QTest::newRow(means) << QString::fromLatin1(means);
}

// Twenty echoes outstanding together, each request met at once by three strangers: every
// host gets one result, its own true reply's time, never the instant stranger's.
void tst_ForeignReply::strangeRepliesAreIgnoredInARun()
{
    if (!g_net.ready)
        QSKIP(qPrintable(g_net.whyNot));
    QFETCH(QString, means);
    constexpr int hosts = 20;
    constexpr int baseMs = 30;

    StrangeResponder responder;
    QVERIFY(responder.start(StrangeResponder::Strange::Crowd, baseMs));
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "IcmpMeans", means));
    QVERIFY(set(ping.get(), "TimeOut", 1500));
    QStringList list;
    for (int i = 0; i < hosts; ++i)
        list << QStringLiteral("127.0.0.%1").arg(10 + i);
    const QMetaObject *mo = ping->metaObject();
    QSignalSpy results(ping.get(),
                       mo->method(mo->indexOfSignal("EchoResult(qint32,qint32,QVariant)")));
    QSignalSpy finished(ping.get(), mo->method(mo->indexOfSignal("EchoesFinished(qint32)")));
    QVERIFY(typed(ping.get())->startEchoes(list) > 0);
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(results.size(), hosts);
    QList<bool> seen(hosts, false);
    for (const QList<QVariant> &r : results) {
        const int i = r.at(1).toInt();
        QVERIFY(i >= 0 && i < hosts && !seen[i]);
        seen[i] = true;
        const QVariant result = r.at(2).value<QVariant>();
        const int expectedMs = baseMs + 4 * i;
        QVERIFY2(result.metaType().id() == QMetaType::Int && result.toInt() >= expectedMs - 2
                     && result.toInt() < 1500,
                 qPrintable(list[i] + ": " + result.toString()));
    }
    QCOMPARE(get(ping.get(), "LastMeans").toString(), means);
    QCOMPARE(responder.strangeRepliesSent(), 3 * hosts);
    QCOMPARE(responder.trueRepliesSent(), hosts);
}

// The decoding on its own: packets that are about somebody else's request settle nothing.
void tst_ForeignReply::decodingTakesOnlyWhatIsOurs_data()
{
    QTest::addColumn<QByteArray>("packet"); // as a raw socket reads it
    QTest::addColumn<int>("verdict"); // 0 not ours, 1 our reply, 2 our error report

    const std::vector<unsigned char> ours{0x12, 0x34, 0x00, 0x07, 'd', 'a', 't', 'a'};
    const std::vector<unsigned char> otherId{0x12, 0xB4, 0x00, 0x07, 'd', 'a', 't', 'a'};
    const std::vector<unsigned char> otherSeq{0x12, 0x34, 0x00, 0x08, 'd', 'a', 't', 'a'};
    auto bytes = [](const std::vector<unsigned char> &v) {
        return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
    };
    auto unreachable = [](const std::vector<unsigned char> &request) {
        std::vector<unsigned char> quoted{0, 0, 0, 0};
        const std::vector<unsigned char> inner = ipPacket(icmpMessage(8, 0, request));
        quoted.insert(quoted.end(), inner.begin(), inner.begin() + 28);
        return ipPacket(icmpMessage(3, 1, quoted));
    };
    QTest::newRow("our reply") << bytes(ipPacket(icmpMessage(0, 0, ours))) << 1;
    QTest::newRow("reply for another identifier")
        << bytes(ipPacket(icmpMessage(0, 0, otherId))) << 0;
    QTest::newRow("reply for another sequence")
        << bytes(ipPacket(icmpMessage(0, 0, otherSeq))) << 0;
    QTest::newRow("our own request looped back") << bytes(ipPacket(icmpMessage(8, 0, ours))) << 0;
    QTest::newRow("error report about our request") << bytes(unreachable(ours)) << 2;
    QTest::newRow("error report about another identifier") << bytes(unreachable(otherId)) << 0;
    QTest::newRow("reply cut inside its header")
        << bytes(ipPacket(icmpMessage(0, 0, ours))).left(26) << 0;
    QTest::newRow("error report cut inside the quote") << bytes(unreachable(ours)).left(50) << 0;
}

void tst_ForeignReply::decodingTakesOnlyWhatIsOurs()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, verdict);
    const uint32_t destination = htonl(INADDR_LOOPBACK);
    uint32_t status = 0;
    bool isReply = false;
    const bool settled = pingocx::icmp::inspectRawPacket(
        reinterpret_cast<const unsigned char *>(packet.constData()), std::size_t(packet.size()),
        destination, destination, htons(0x1234), htons(7), &status, &isReply);
    QCOMPARE(settled ? (isReply ? 1 : 2) : 0, verdict);
    if (verdict == 2)
        QCOMPARE(status, uint32_t(pingocx::icmp::IP_DEST_HOST_UNREACHABLE));
}

// A ping socket's error report whose control message was cut short (its buffer too small)
// carries no status to read: it is skipped, not read past its end. The whole report gives
// its status.
void tst_ForeignReply::cutShortErrorReportIsSkipped()
{
    alignas(cmsghdr) unsigned char
        control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in))] = {};
    auto *c = reinterpret_cast<cmsghdr *>(control);
    c->cmsg_level = SOL_IP;
    c->cmsg_type = IP_RECVERR;
    sock_extended_err ee{};
    ee.ee_origin = SO_EE_ORIGIN_ICMP;
    ee.ee_type = 3;
    ee.ee_code = 0;
    std::memcpy(CMSG_DATA(c), &ee, sizeof ee);
    unsigned char data[8] = {8, 0, 0, 0, 0x12, 0x34, 0x00, 0x07};
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;

    uint32_t status = 0;
    c->cmsg_len = CMSG_LEN(sizeof ee + sizeof(sockaddr_in));
    msg.msg_controllen = sizeof control;
    QVERIFY(pingocx::icmp::inspectErrorQueueMessage(msg, sizeof data, htons(7), &status));
    QCOMPARE(status, uint32_t(pingocx::icmp::IP_DEST_NET_UNREACHABLE));

    // Cut after four bytes of the report: the header says so, and so does the buffer.
    status = 0;
    c->cmsg_len = CMSG_LEN(4);
    QVERIFY(!pingocx::icmp::inspectErrorQueueMessage(msg, sizeof data, htons(7), &status));
    c->cmsg_len = CMSG_LEN(sizeof ee);
    msg.msg_controllen = CMSG_LEN(4);
    QVERIFY(!pingocx::icmp::inspectErrorQueueMessage(msg, sizeof data, htons(7), &status));
    QCOMPARE(status, 0u);
}

int main(int argc, char *argv[])
{
    enterPrivateNetwork();
    QApplication app(argc, argv);
    tst_ForeignReply test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_foreignreply.moc"
