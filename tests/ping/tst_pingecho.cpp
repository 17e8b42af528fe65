// Real ICMP echo and real name lookups, inside private namespaces that this test makes for
// itself before anything else runs: a network namespace (loopback, a link to a router
// namespace with no route onward, local prohibit / unreachable / blackhole / throw routes)
// and a mount namespace whose /etc/hosts, /etc/resolv.conf and /etc/nsswitch.conf are the
// test's own (the machine's DNS is never asked). Every namespace ends with the test process
// (the router's with its child, which exits when the test's end of its pipe closes).
//
// Needs root (CI runs as root); elsewhere every test skips and says why.

#include "PingTestSupport.h"

#include "hosting/ControlServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pingtest;

namespace {

constexpr int kNobody = 65534;

struct Namespaces
{
    bool network = false;
    bool names = false;
    QString whyNot; // why there is no private network
    QString whyNoNames; // why there is no private resolver set-up
};
Namespaces g_ns;

bool writeFile(const char *path, const char *text)
{
    FILE *f = std::fopen(path, "w");
    if (!f)
        return false;
    const bool ok = std::fputs(text, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

// Runs before QApplication, while the process has a single thread.
void enterPrivateNamespaces()
{
    if (geteuid() != 0) {
        g_ns.whyNot = QStringLiteral("needs root for private network namespaces (CI runs as root)");
        return;
    }
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        g_ns.whyNot = QStringLiteral("unshare(CLONE_NEWNET | CLONE_NEWNS) is not allowed here: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    g_ns.network = true;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        g_ns.whyNoNames = QStringLiteral("cannot make the mount namespace private");
        return;
    }
    char dir[] = "/tmp/tarvex-pingecho-XXXXXX";
    if (!mkdtemp(dir)) {
        g_ns.whyNoNames = QStringLiteral("no temporary folder");
        return;
    }
    const struct
    {
        const char *name, *text, *target;
    } files[] = {
        {"hosts", "127.0.0.1\tlocalhost\n127.0.0.200\tofficial.tarvex.test alias.tarvex.test\n",
         "/etc/hosts"},
        {"resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n", "/etc/resolv.conf"},
        {"nsswitch.conf", "hosts: files dns\n", "/etc/nsswitch.conf"},
    };
    g_ns.names = true;
    for (const auto &f : files) {
        const std::string path = std::string(dir) + "/" + f.name;
        if (!writeFile(path.c_str(), f.text)
            || mount(path.c_str(), f.target, nullptr, MS_BIND, nullptr) != 0) {
            g_ns.names = false;
            g_ns.whyNoNames =
                QStringLiteral("cannot bind-mount the test's own %1").arg(QLatin1String(f.target));
        }
        unlink(path.c_str()); // the mounts keep the files; nothing stays behind on disk
    }
    rmdir(dir);
}

// A round-trip time measured against a responder that waits expectedMs before it answers.
// It can never be shorter than the wait (one ms for rounding); it can be longer by the
// scheduling of a loaded or sanitised machine, but never by the 47 ms that tells a
// delayed host from a prompt one.
bool rttNear(int measuredMs, int expectedMs)
{
    return measuredMs >= expectedMs - 1 && measuredMs <= expectedMs + 20;
}

bool writeSysctl(const QString &name, const QString &value)
{
    QFile file(QStringLiteral("/proc/sys/")
               + QString(name).replace(QLatin1Char('.'), QLatin1Char('/')));
    return file.open(QIODevice::WriteOnly) && file.write(value.toLatin1()) > 0;
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000))
        return QStringLiteral("%1 did not finish").arg(program);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("%1 %2: %3")
            .arg(program, args.join(' '), QString::fromLocal8Bit(p.readAllStandardError()));
    return QString();
}

// Every folder on the way to path can be entered by other users, and the file read.
bool reachableByOthers(const QString &path)
{
    QString p = QFileInfo(path).absoluteFilePath();
    struct stat st;
    if (stat(p.toLocal8Bit().constData(), &st) != 0 || !(st.st_mode & S_IROTH))
        return false;
    while (p != QLatin1String("/")) {
        p = QFileInfo(p).path();
        if (stat(p.toLocal8Bit().constData(), &st) != 0 || !(st.st_mode & S_IXOTH))
            return false;
    }
    return true;
}

// "net:[4026531840]": which network namespace a process is in.
QByteArray networkNamespaceOf(const QByteArray &process)
{
    char target[64] = {};
    const QByteArray link = "/proc/" + process + "/ns/net";
    const ssize_t n = readlink(link.constData(), target, sizeof target - 1);
    return n > 0 ? QByteArray(target, int(n)) : QByteArray();
}

bool helperHasCapability(const QString &helper)
{
    QProcess p;
    p.start(QStringLiteral("getcap"), {helper});
    return p.waitForFinished(5000) && p.readAllStandardOutput().contains("cap_net_raw");
}

// The delayed responder: answers echo requests after delayMs while it runs.
class Responder
{
public:
    bool start(int delayMs, const QStringList &only = {})
    {
        QStringList args{binDir() + QStringLiteral("/tarvex-icmp-responder"),
                         QStringLiteral("--delay"), QString::number(delayMs),
                         QStringLiteral("--seconds"), QStringLiteral("60")};
        for (const QString &address : only)
            args << QStringLiteral("--only") << address;
        // Real-time priority: the emulated host answers on time even while the machine is
        // busy (it sleeps all but microseconds of its life). Without it where refused.
        m_process.start(QStringLiteral("chrt"),
                        QStringList{QStringLiteral("--fifo"), QStringLiteral("10")} + args);
        if (ready())
            return true;
        m_process.kill();
        m_process.waitForFinished(1000);
        m_process.start(args.first(), args.mid(1));
        return ready();
    }
    ~Responder()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel(); // it ends when its standard input closes
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(1000);
        }
    }

private:
    bool ready()
    {
        return m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000)
            && m_process.readLine().startsWith("ready");
    }
    QProcess m_process;
};

// A router answers with ICMP errors for unreachable destinations at most 5 at once and
// then one a second for each source (net.ipv4.route.error_burst / error_cost, host-wide
// settings that a test must not change). Before asking for n such errors, wait until the
// router has them to give.
class RouterErrorBudget
{
public:
    void take(int errors)
    {
        refill();
        const double needed = errors * kCostMs - m_tokens;
        if (needed > 0) {
            QTest::qSleep(int(needed) + kMarginMs);
            refill();
        }
        m_tokens -= errors * kCostMs;
    }

private:
    static constexpr double kCostMs = 1000, kBurstMs = 5000;
    static constexpr int kMarginMs = 150;
    void refill()
    {
        if (m_clock.isValid())
            m_tokens = qMin(kBurstMs, m_tokens + double(m_clock.restart()));
        else
            m_clock.start();
    }
    double m_tokens = kBurstMs - kCostMs; // keep one spare for the scheduling spread
    QElapsedTimer m_clock;
};
RouterErrorBudget g_routerErrors;

struct Echo
{
    QVariant result;
    qint64 elapsedMs = 0;
};

Echo sendTo(QObject *ping, const QString &host)
{
    set(ping, "HostName", host);
    QElapsedTimer clock;
    clock.start();
    Echo e;
    e.result = send(ping);
    e.elapsedMs = clock.elapsed();
    return e;
}

} // namespace

class tst_PingEcho : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void echoByEachMeans_data();
    void echoByEachMeans();
    void timedOutComesAfterTimeOut();
    void unprivilegedUserPingsThroughTheHelper();
    void unprivilegedUserPrefersPingSockets();
    void helperWithoutCapabilityIsASocketError();

    void manyHostsAtOnce_data();
    void manyHostsAtOnce();
    void helperRefusesAllButEchoRequests();
    void helperKeepsItsRateAndEndsWithItsPipe();

    void names_data();
    void names();
    void lookupCompletesOnItsOwn();
    void aClickIsNoCompletion();
    void theWaitForALookupIsBounded();
    void aNestedSendEndsBothWaits();
    void destroyedWhileWaiting();

private:
    void requireNames();
    QProcess m_router;
};

void tst_PingEcho::initTestCase()
{
    if (!g_ns.network)
        QSKIP(qPrintable(g_ns.whyNot));
    QCOMPARE(run(QStringLiteral("ip"),
                 {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                  QStringLiteral("up")}),
             QString());

    // The router: a network namespace held by a child that ends when its input closes.
    m_router.start(QStringLiteral("unshare"), {QStringLiteral("-n"), QStringLiteral("cat")});
    QVERIFY(m_router.waitForStarted(5000));
    const QString pid = QString::number(m_router.processId());
    // The child is the router once it runs in a network namespace other than this one.
    const QByteArray ours = networkNamespaceOf("self");
    QTRY_VERIFY_WITH_TIMEOUT(!networkNamespaceOf(pid.toLatin1()).isEmpty()
                                 && networkNamespaceOf(pid.toLatin1()) != ours,
                             5000);
    const QStringList here[] = {
        {"link", "add", "tvx0", "type", "veth", "peer", "name", "tvx1", "netns", pid},
        {"addr", "add", "192.0.2.1/24", "dev", "tvx0"},
        {"link", "set", "tvx0", "up"},
        {"route", "add", "default", "via", "192.0.2.2"},
        {"route", "add", "prohibit", "203.0.113.64/26"},
        {"route", "add", "unreachable", "203.0.113.128/26"},
        {"route", "add", "blackhole", "203.0.113.192/26"},
        {"route", "add", "throw", "198.51.100.128/25"},
    };
    for (const QStringList &args : here)
        QCOMPARE(run(QStringLiteral("ip"), args), QString());
    const QString router = QStringLiteral(
        "ip link set lo up && ip addr add 192.0.2.2/24 dev tvx1 && ip link set tvx1 up && "
        "sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 && "
        "ip route add unreachable 203.0.113.0/24");
    QCOMPARE(run(QStringLiteral("nsenter"),
                 {QStringLiteral("-t"), pid, QStringLiteral("-n"), QStringLiteral("sh"),
                  QStringLiteral("-c"), router}),
             QString());
}

void tst_PingEcho::cleanupTestCase()
{
    if (m_router.state() != QProcess::NotRunning) {
        m_router.closeWriteChannel();
        if (!m_router.waitForFinished(3000))
            m_router.kill();
        m_router.waitForFinished(1000);
    }
}

void tst_PingEcho::init()
{
    QVERIFY(writeSysctl(QStringLiteral("net.ipv4.icmp_echo_ignore_all"), QStringLiteral("0")));
    QVERIFY(
        writeSysctl(QStringLiteral("net.ipv4.ping_group_range"), QStringLiteral("0\t2147483647")));
}

void tst_PingEcho::requireNames()
{
    if (!g_ns.names)
        QSKIP(qPrintable(g_ns.whyNoNames));
}

void tst_PingEcho::echoByEachMeans_data()
{
    QTest::addColumn<QString>("means");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("delay"); // >= 0: the responder answers, after that many ms
    QTest::addColumn<QVariant>("expected"); // an int: milliseconds near it; a text: exactly
    QTest::addColumn<bool>("fromRouter"); // the answer is an ICMP error from the router

    struct Case
    {
        const char *name, *host;
        int delay;
        QVariant expected;
    };
    const Case cases[] = {
        {"loopback", "127.0.0.1", -1, 0},
        {"another loopback address", "127.0.0.9", -1, 0},
        {"delayed 47 ms", "127.0.0.1", 47, 47},
        {"router: no route onward", "198.51.100.1", -1,
         QStringLiteral("Destination Net Unreachable")},
        {"router: unreachable route", "203.0.113.1", -1, QStringLiteral("Failed, Error: 11003")},
        {"local prohibit route", "203.0.113.65", -1, QStringLiteral("Bad Destination")},
        {"local unreachable route", "203.0.113.129", -1, QStringLiteral("Failed, Error: 11003")},
        {"local no route", "198.51.100.129", -1, QStringLiteral("Destination Net Unreachable")},
        {"local blackhole", "203.0.113.193", -1, QStringLiteral("Failed, Error: 11050")},
    };
    for (const char *means : {"datagram", "raw", "helper"}) {
        for (const Case &c : cases)
            QTest::addRow("%s: %s", means, c.name)
                << QString::fromLatin1(means) << QString::fromLatin1(c.host) << c.delay
                << c.expected << QByteArray(c.name).startsWith("router");
    }
}

void tst_PingEcho::echoByEachMeans()
{
    QFETCH(QString, means);
    QFETCH(QString, host);
    QFETCH(int, delay);
    QFETCH(QVariant, expected);
    QFETCH(bool, fromRouter);

    if (fromRouter)
        g_routerErrors.take(1);
    Responder responder;
    if (delay >= 0) {
        QVERIFY(writeSysctl(QStringLiteral("net.ipv4.icmp_echo_ignore_all"), QStringLiteral("1")));
        QVERIFY(responder.start(delay));
    }
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "IcmpMeans", means));
    QVERIFY(set(ping.get(), "TimeOut", 1000));
    const Echo e = sendTo(ping.get(), host);
    QCOMPARE(get(ping.get(), "LastMeans").toString(), means);
    if (expected.metaType().id() == QMetaType::Int) {
        QCOMPARE(e.result.metaType().id(), int(QMetaType::Int));
        QVERIFY2(rttNear(e.result.toInt(), expected.toInt()), qPrintable(e.result.toString()));
    } else {
        QCOMPARE(e.result, expected);
        QVERIFY2(e.elapsedMs < 900, "an error report ends the wait at once");
    }
    QCOMPARE(get(ping.get(), "IPAddress").toString(), host);
}

void tst_PingEcho::timedOutComesAfterTimeOut()
{
    QVERIFY(writeSysctl(QStringLiteral("net.ipv4.icmp_echo_ignore_all"), QStringLiteral("1")));
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "TimeOut", 300));
    for (const char *means : {"datagram", "raw", "helper"}) {
        QVERIFY(set(ping.get(), "IcmpMeans", QLatin1String(means)));
        const Echo e = sendTo(ping.get(), QStringLiteral("127.0.0.1"));
        QCOMPARE(e.result, QVariant(QStringLiteral("Timed Out")));
        QVERIFY2(e.elapsedMs >= 299 && e.elapsedMs <= 300 + 100,
                 qPrintable(QString::number(e.elapsedMs)));
    }
    // A time-out of 0 is passed on unchanged: no wait at all.
    QVERIFY(set(ping.get(), "TimeOut", 0));
    const Echo zero = sendTo(ping.get(), QStringLiteral("127.0.0.1"));
    QCOMPARE(zero.result, QVariant(QStringLiteral("Timed Out")));
    QVERIFY(zero.elapsedMs < 100);
}

void tst_PingEcho::unprivilegedUserPingsThroughTheHelper()
{
    if (!reachableByOthers(binDir() + QStringLiteral("/pingprobe")))
        QSKIP("the build folder is not readable by other users: cannot run the probe as nobody");
    if (!helperHasCapability(helperPath())) {
        // The same step as after an install; as root the test can take it itself.
        run(QStringLiteral("sh"),
            {QStringLiteral(TARVEX_SOURCE_DIR "/ping/set-helper-capability"), helperPath()});
        if (!helperHasCapability(helperPath()))
            QSKIP("pingocx-icmp-helper lacks cap_net_raw (run ping/set-helper-capability) and "
                  "could not be given it");
    }
    // Only the helper can work: no ping sockets for anybody, and nobody has no capability.
    QVERIFY(writeSysctl(QStringLiteral("net.ipv4.ping_group_range"), QStringLiteral("1\t0")));
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(QFile::setPermissions(home.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      | QFile::ReadOther | QFile::ExeOther));
    QVERIFY(chown(home.path().toLocal8Bit().constData(), kNobody, kNobody) == 0);
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("HOME"), home.path());

    const QStringList hosts{QStringLiteral("127.0.0.1"), QStringLiteral("198.51.100.1"),
                            QStringLiteral("203.0.113.1"), QStringLiteral("203.0.113.65"),
                            QStringLiteral("203.0.113.129")};
    g_routerErrors.take(2);
    ProbeRun plain = runProbe(
        QStringList{QStringLiteral("--timeout"), QStringLiteral("1000")} + hosts, env, kNobody);
    QVERIFY2(plain.exitCode == 0, qPrintable(plain.lines.join('\n') + plain.errors));
    const QStringList expected{QStringLiteral("int"), QStringLiteral("Destination_Net_Unreachable"),
                               QStringLiteral("Failed,_Error:_11003"),
                               QStringLiteral("Bad_Destination"),
                               QStringLiteral("Failed,_Error:_11003")};
    for (int i = 0; i < hosts.size(); ++i) {
        const QStringList r = plain.result(hosts[i]);
        QVERIFY2(!r.isEmpty(), qPrintable(plain.lines.join('\n')));
        QCOMPARE(r[5], QStringLiteral("helper"));
        QCOMPARE(i == 0 ? r[2] : r[3], expected[i]);
    }
    QVERIFY(plain.boxes().isEmpty());

    QVERIFY(writeSysctl(QStringLiteral("net.ipv4.icmp_echo_ignore_all"), QStringLiteral("1")));
    const ProbeRun silent =
        runProbe({QStringLiteral("--timeout"), QStringLiteral("300"), QStringLiteral("127.0.0.1")},
                 env, kNobody);
    const QStringList timedOut = silent.result(QStringLiteral("127.0.0.1"));
    QVERIFY2(!timedOut.isEmpty(), qPrintable(silent.lines.join('\n') + silent.errors));
    QCOMPARE(timedOut[3], QStringLiteral("Timed_Out"));
    QVERIFY2(timedOut[4].toInt() >= 299 && timedOut[4].toInt() <= 450, qPrintable(timedOut[4]));

    Responder responder;
    QVERIFY(responder.start(47));
    const ProbeRun delayed =
        runProbe({QStringLiteral("--timeout"), QStringLiteral("1000"), QStringLiteral("127.0.0.1")},
                 env, kNobody);
    const QStringList slow = delayed.result(QStringLiteral("127.0.0.1"));
    QVERIFY2(!slow.isEmpty(), qPrintable(delayed.lines.join('\n') + delayed.errors));
    QCOMPARE(slow[2], QStringLiteral("int"));
    QVERIFY2(rttNear(slow[3].toInt(), 47), qPrintable(slow[3]));
}

void tst_PingEcho::unprivilegedUserPrefersPingSockets()
{
    if (!reachableByOthers(binDir() + QStringLiteral("/pingprobe")))
        QSKIP("the build folder is not readable by other users: cannot run the probe as nobody");
    QTemporaryDir home;
    QVERIFY(chown(home.path().toLocal8Bit().constData(), kNobody, kNobody) == 0);
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    // init() allowed ping sockets to every group: the first step of the ladder answers.
    const ProbeRun run = runProbe({QStringLiteral("127.0.0.1")}, env, kNobody);
    const QStringList r = run.result(QStringLiteral("127.0.0.1"));
    QVERIFY2(!r.isEmpty(), qPrintable(run.lines.join('\n') + run.errors));
    QCOMPARE(r[2], QStringLiteral("int"));
    QCOMPARE(r[5], QStringLiteral("datagram"));
}

void tst_PingEcho::helperWithoutCapabilityIsASocketError()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!reachableByOthers(binDir() + QStringLiteral("/pingprobe")))
        QSKIP("the build folder is not readable by other users: cannot run the probe as nobody");
    QVERIFY(writeSysctl(QStringLiteral("net.ipv4.ping_group_range"), QStringLiteral("1\t0")));
    const QFileDevice::Permissions open =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(dir.path(), open));
    // A copy of the library and of its helper; the copy of the helper has no capability.
    const QString lib = dir.filePath(QStringLiteral("libPingOCX.so"));
    const QString helper = dir.filePath(QStringLiteral("pingocx-icmp-helper"));
    QVERIFY(QFile::copy(QFileInfo(libraryPath()).canonicalFilePath(), lib));
    QVERIFY(QFile::copy(helperPath(), helper));
    QVERIFY(QFile::setPermissions(helper, open | QFile::ExeOther));
    QVERIFY(!helperHasCapability(helper));
    const QString config = dir.filePath(QStringLiteral("config"));
    {
        QSettings reg(config + QStringLiteral("/ComponentRegistry/classes.ini"),
                      QSettings::IniFormat);
        reg.setValue(QStringLiteral("ProgID/PingOCX.Ping/CLSID"), kClassId);
        reg.setValue(QStringLiteral("CLSID/ED37E54C-E24F-11D0-B680-0000F654079F/InprocServer32"),
                     lib);
    }
    run(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("o+rX"), config});
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(chown(runtime.toLocal8Bit().constData(), kNobody, kNobody) == 0);
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);

    const ProbeRun run = runProbe({QStringLiteral("127.0.0.1")}, env, kNobody);
    QVERIFY2(run.lines.value(0).startsWith(QStringLiteral("LOADED registry ") + lib),
             qPrintable(run.lines.join('\n') + run.errors));
    const QStringList boxes = run.boxes();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes.first().startsWith(QStringLiteral("Socket Error|")), qPrintable(boxes.first()));
    QVERIFY2(boxes.first().contains(QStringLiteral("lacks the capability"))
                 && boxes.first().contains(QStringLiteral("setcap cap_net_raw+ep ") + helper),
             qPrintable(boxes.first()));
    QCOMPARE(run.result(QStringLiteral("127.0.0.1")).value(2), QStringLiteral("nothing"));
}

void tst_PingEcho::manyHostsAtOnce_data()
{
    QTest::addColumn<QString>("means");
    for (const char *means : {"datagram", "raw", "helper"})
        QTest::newRow(means) << QString::fromLatin1(means);
}

// One run of mixed hosts: each answer lands at its own index, all of them awaited together.
void tst_PingEcho::manyHostsAtOnce()
{
    requireNames();
    QFETCH(QString, means);
    g_routerErrors.take(1);
    QVERIFY(writeSysctl(QStringLiteral("net.ipv4.icmp_echo_ignore_all"), QStringLiteral("1")));
    Responder now, slow;
    QVERIFY(now.start(0, {QStringLiteral("127.0.0.1")}));
    QVERIFY(slow.start(47, {QStringLiteral("127.0.0.47")}));
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "IcmpMeans", means));
    QVERIFY(set(ping.get(), "TimeOut", 600));
    QVERIFY(set(ping.get(), "HostName", QStringLiteral("kept")));
    struct Host
    {
        const char *host;
        QVariant expected;
    }; // an int: ms near it
    const QVariant timedOut = QStringLiteral("Timed Out"), bad = QStringLiteral("Bad IP Address");
    const Host hosts[] = {
        {"127.0.0.1", 0},
        {"127.0.0.47", 47},
        {"127.0.0.2", timedOut},
        {"127.0.0.3", timedOut},
        {"198.51.100.1", QStringLiteral("Destination Net Unreachable")},
        {"203.0.113.65", QStringLiteral("Bad Destination")},
        {"203.0.113.129", QStringLiteral("Failed, Error: 11003")},
        {"no-such-host.tarvex.test", bad},
        {"1.2.3.4.5", bad},
        {"localhost", 0},
        {"alias.tarvex.test", timedOut},
        {"127.0.0.4", timedOut},
    };
    QStringList list;
    for (const Host &h : hosts)
        list << QLatin1String(h.host);
    const QMetaObject *mo = ping->metaObject();
    QSignalSpy results(ping.get(),
                       mo->method(mo->indexOfSignal("EchoResult(qint32,qint32,QVariant)")));
    QSignalSpy finished(ping.get(), mo->method(mo->indexOfSignal("EchoesFinished(qint32)")));
    QElapsedTimer clock;
    clock.start();
    const qint32 run = typed(ping.get())->startEchoes(list);
    QVERIFY(run > 0);
    QVERIFY(results.isEmpty()); // never inside the call
    QVERIFY(finished.wait(5000));
    // Four silent hosts one after the other would take 2.4 s.
    QVERIFY2(clock.elapsed() < 1800, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(results.size(), int(std::size(hosts)));
    QList<bool> seen(int(std::size(hosts)), false);
    for (const QList<QVariant> &r : results) {
        QCOMPARE(r.at(0).toInt(), run);
        const int i = r.at(1).toInt();
        QVERIFY(!seen[i]);
        seen[i] = true;
        const QVariant result = r.at(2).value<QVariant>();
        if (hosts[i].expected.metaType().id() == QMetaType::Int) {
            QVERIFY2(result.metaType().id() == QMetaType::Int,
                     qPrintable(list[i] + ": " + result.toString()));
            QVERIFY2(rttNear(result.toInt(), hosts[i].expected.toInt()),
                     qPrintable(list[i] + ": " + result.toString()));
        } else {
            QVERIFY2(result == hosts[i].expected, qPrintable(list[i] + ": " + result.toString()));
        }
    }
    QCOMPARE(get(ping.get(), "LastMeans").toString(), means);
    QCOMPARE(get(ping.get(), "HostName").toString(), QStringLiteral("kept"));
    QCOMPARE(get(ping.get(), "IPAddress").toString(), QString());
}

namespace {
QByteArray helperLines(QProcess &helper, int lines)
{
    QByteArray out;
    for (int guard = 0; guard < 200 && out.count('\n') < lines; ++guard) {
        if (!helper.waitForReadyRead(50) && helper.state() == QProcess::NotRunning)
            break;
        out += helper.readAll();
    }
    return out;
}
} // namespace

void tst_PingEcho::helperRefusesAllButEchoRequests()
{
    QProcess helper;
    helper.start(helperPath(), QStringList());
    QVERIFY(helper.waitForStarted(5000));
    QCOMPARE(helperLines(helper, 1), QByteArray("ready\n"));
    const QByteArray requests = "ping 1 127.0.0.1 100\n" // not an echo request
                                "echo 2 127.0.0.1 100 1\n" // a field too many
                                "echo x 127.0.0.1 100\n" // no token
                                "echo 3 224.0.0.1 100\n" // multicast
                                "echo 4 255.255.255.255 100\n" // broadcast
                                "echo 5 0.0.0.0 100\n"
                                "echo 6 1.2.3 100\n" // short form
                                "echo 7 127.0.0.01 100\n" // octal-looking part
                                "echo 8 127.0.0.1 -1\n"
                                "echo 9 127.0.0.1 2147483648\n"
                                "echo 10 127.0.0.1 "
        + QByteArray(100, '1')
        + "\n" // far too long a line
          "echo 11 127.0.0.1 500\n"; // the one good request
    helper.write(requests);
    const QByteArray out = helperLines(helper, 12);
    QCOMPARE(out.split('\n').mid(0, 11),
             (QList<QByteArray>{"- refused request", "- refused request", "- refused request",
                                "3 refused address", "4 refused address", "5 refused address",
                                "6 refused address", "7 refused address", "8 refused timeout",
                                "9 refused timeout", "- refused request"}));
    QVERIFY2(out.split('\n').value(11).startsWith("11 R 1 0 "), out.constData());
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(2000));
}

void tst_PingEcho::helperKeepsItsRateAndEndsWithItsPipe()
{
    QProcess helper;
    helper.start(helperPath(), QStringList());
    QVERIFY(helper.waitForStarted(5000));
    QCOMPARE(helperLines(helper, 1), QByteArray("ready\n"));
    // 50 requests at once to a host that answers at once: the answers come no faster than
    // one every 2 ms.
    QByteArray requests;
    for (int i = 1; i <= 50; ++i)
        requests += "echo " + QByteArray::number(i) + " 127.0.0.1 1000\n";
    QElapsedTimer clock;
    clock.start();
    helper.write(requests);
    const QByteArray out = helperLines(helper, 50);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(out.count('\n'), 50);
    QCOMPARE(out.count(" R 1 0 "), 50);
    QVERIFY2(elapsed >= 49 * 2, qPrintable(QString::number(elapsed)));
    // Outstanding requests do not keep it: its input closed, it ends.
    helper.write("echo 99 192.0.2.200 60000\n");
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(2000));
    QCOMPARE(helper.exitCode(), 0);
}

void tst_PingEcho::names_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("resolve");
    QTest::addColumn<QString>("ipAddress");
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("result"); // "ms" for a number of milliseconds

    const QString ms = QStringLiteral("ms");
    const QString bad = QStringLiteral("Bad IP Address");
    QTest::newRow("localhost (forward)") << "localhost" << false << "127.0.0.1"
                                         << "localhost" << ms;
    QTest::newRow("an alias gives the official name")
        << "alias.tarvex.test" << false << "127.0.0.200"
        << "official.tarvex.test" << ms;
    QTest::newRow("127.0.0.1 with ResolveNames (reverse)") << "127.0.0.1" << true << "127.0.0.1"
                                                           << "localhost" << ms;
    QTest::newRow("last byte >= 128, reverse") << "127.0.0.200" << true << "127.0.0.200"
                                               << "official.tarvex.test" << ms;
    QTest::newRow("no name for the address") << "127.0.0.77" << true << "127.0.0.77"
                                             << "" << ms;
    QTest::newRow("no lookup without ResolveNames") << "127.0.0.1" << false << "127.0.0.1"
                                                    << "" << ms;
    QTest::newRow("a name that does not resolve") << "no-such-host.tarvex.test" << false << ""
                                                  << "" << bad;
    QTest::newRow("0.1.2.3 counts as a name") << "0.1.2.3" << false << ""
                                              << "" << bad;
    QTest::newRow("0.0.0.0 counts as a name") << "0.0.0.0" << false << ""
                                              << "" << bad;
    QTest::newRow("empty HostName") << "" << false << ""
                                    << "" << bad;
    QTest::newRow("1.2.3 with ResolveNames") << "1.2.3" << true << "1.2.3"
                                             << "" << bad;
    QTest::newRow("255.255.255.255 is looked up as a name")
        << "255.255.255.255" << true << "255.255.255.255"
        << "255.255.255.255"
        << "Bad Destination";
    QTest::newRow("255.255.255.255 without a lookup")
        << "255.255.255.255" << false << "255.255.255.255"
        << ""
        << "Bad Destination";
}

void tst_PingEcho::names()
{
    requireNames();
    QFETCH(QString, host);
    QFETCH(bool, resolve);
    QFETCH(QString, ipAddress);
    QFETCH(QString, alias);
    QFETCH(QString, result);
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "TimeOut", 1000));
    QVERIFY(set(ping.get(), "ResolveNames", resolve));
    const Echo e = sendTo(ping.get(), host);
    if (result == QLatin1String("ms")) {
        QCOMPARE(e.result.metaType().id(), int(QMetaType::Int));
        QVERIFY2(rttNear(e.result.toInt(), 0), qPrintable(e.result.toString()));
    } else {
        QCOMPARE(e.result, QVariant(result));
    }
    QCOMPARE(get(ping.get(), "IPAddress").toString(), ipAddress);
    QCOMPARE(get(ping.get(), "Alias").toString(), alias);
    QVERIFY2(e.elapsedMs < 900, "no lookup here waits for a DNS server");
}

void tst_PingEcho::lookupCompletesOnItsOwn()
{
    requireNames();
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "HostName", QStringLiteral("alias.tarvex.test")));
    QVERIFY(QMetaObject::invokeMethod(ping.get(), "LookUpIpFromHostName", Qt::DirectConnection));
    QVERIFY(get(ping.get(), "Handle").toInt() > 0);
    QTRY_VERIFY(get(ping.get(), "LookupDone").toBool());
    QCOMPARE(get(ping.get(), "IPAddress").toString(), QStringLiteral("127.0.0.200"));
    QCOMPARE(get(ping.get(), "Alias").toString(), QStringLiteral("official.tarvex.test"));

    // By name, with its by-reference arguments. Each completion reports "IPAddress".
    const QMetaObject *mo = ping->metaObject();
    QSignalSpy reports(ping.get(), mo->method(mo->indexOfSignal("PropertyChanged(QString)")));
    qint16 window = 0;
    qint16 message = 514;
    QString host = QStringLiteral("127.0.0.1");
    qint32 byName = 0;
    const QMetaMethod alias =
        mo->method(mo->indexOfMethod("WSAAsyncGetHostByNameAlias(qint16&,qint16&,QString&)"));
    QVERIFY(alias.invoke(ping.get(), Qt::DirectConnection, Q_RETURN_ARG(qint32, byName),
                         Q_ARG(qint16 &, window), Q_ARG(qint16 &, message),
                         Q_ARG(QString &, host)));
    QVERIFY(byName > 0);
    QTRY_COMPARE(reports.size(), 1);
    QCOMPARE(get(ping.get(), "IPAddress").toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(get(ping.get(), "Alias").toString(), QStringLiteral("localhost"));

    // The same through the dispatch identifier, with the classic arguments.
    QVariantMap started;
    QVERIFY(QMetaObject::invokeMethod(
        ping.get(), "Invoke", Qt::DirectConnection, Q_RETURN_ARG(QVariantMap, started),
        Q_ARG(qint32, 0x6003000B), Q_ARG(qint32, tarvex::hosting::DISPATCH_METHOD),
        Q_ARG(QVariantList, (QVariantList{0, 514, QStringLiteral("official.tarvex.test")}))));
    QCOMPARE(started.value(QStringLiteral("hr")).toInt(), tarvex::hosting::S_OK);
    QVERIFY(started.value(QStringLiteral("value")).toInt() > byName);
    QTRY_COMPARE(reports.size(), 2);
    QCOMPARE(get(ping.get(), "IPAddress").toString(), QStringLiteral("127.0.0.200"));
    QCOMPARE(get(ping.get(), "Alias").toString(), QStringLiteral("official.tarvex.test"));
    QCOMPARE(reports.at(1).at(0).toString(), QStringLiteral("IPAddress"));
}

// A DNS server that never answers: lookups of unknown names then take the resolver's full
// time-out (1 s with the test's resolv.conf).
class SilentDns
{
public:
    bool start() { return m_socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 53); }

private:
    QUdpSocket m_socket;
};

void tst_PingEcho::aClickIsNoCompletion()
{
    requireNames();
    SilentDns dns;
    QVERIFY(dns.start());
    const auto ping = createPing();
    QVERIFY(ping);
    auto *button = ping->findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(button);
    QTimer::singleShot(100, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
    const Echo e = sendTo(ping.get(), QStringLiteral("slow-click.tarvex.test"));
    QCOMPARE(e.result, QVariant(QStringLiteral("Bad IP Address")));
    QVERIFY2(e.elapsedMs >= 800, qPrintable(QString::number(e.elapsedMs)));
}

void tst_PingEcho::theWaitForALookupIsBounded()
{
    requireNames();
    SilentDns dns;
    QVERIFY(dns.start());
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "LookupTimeLimit", 200));
    const Echo e = sendTo(ping.get(), QStringLiteral("slow-bound.tarvex.test"));
    QCOMPARE(e.result, QVariant(QStringLiteral("Bad IP Address")));
    QVERIFY2(e.elapsedMs >= 190 && e.elapsedMs < 700, qPrintable(QString::number(e.elapsedMs)));
    QVERIFY(!get(ping.get(), "LookupDone").toBool());
    // The late completion still arrives, and changes nothing but the flag.
    QTRY_VERIFY_WITH_TIMEOUT(get(ping.get(), "LookupDone").toBool(), 5000);
    QCOMPARE(get(ping.get(), "IPAddress").toString(), QString());
}

void tst_PingEcho::aNestedSendEndsBothWaits()
{
    requireNames();
    SilentDns dns;
    QVERIFY(dns.start());
    const auto ping = createPing();
    QVERIFY(ping);
    QVERIFY(set(ping.get(), "TimeOut", 1000));
    QObject *control = ping.get();
    Echo inner;
    QTimer::singleShot(100, control,
                       [control, &inner] { inner = sendTo(control, QStringLiteral("localhost")); });
    const Echo outer = sendTo(control, QStringLiteral("slow-nested.tarvex.test"));
    // The inner Send's lookup completed first and ended both waits; the outer one then
    // pinged what the inner completion left in IPAddress.
    QCOMPARE(inner.result.metaType().id(), int(QMetaType::Int));
    QCOMPARE(outer.result.metaType().id(), int(QMetaType::Int));
    QVERIFY2(outer.elapsedMs < 700, qPrintable(QString::number(outer.elapsedMs)));
    QCOMPARE(get(control, "IPAddress").toString(), QStringLiteral("127.0.0.1"));
}

void tst_PingEcho::destroyedWhileWaiting()
{
    requireNames();
    SilentDns dns;
    QVERIFY(dns.start());
    auto ping = createPing();
    QVERIFY(ping);
    QPointer<QWidget> guard = ping.get();
    QWidget *control = ping.release();
    QTimer::singleShot(100, control, [control] { control->deleteLater(); });
    QVERIFY(set(control, "HostName", QStringLiteral("slow-gone.tarvex.test")));
    QVariant result;
    QVERIFY(QMetaObject::invokeMethod(control, "Send", Q_RETURN_ARG(QVariant, result)));
    QVERIFY(!result.isValid());
    QVERIFY(guard.isNull());
}

int main(int argc, char *argv[])
{
    enterPrivateNamespaces();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    tst_PingEcho test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pingecho.moc"
