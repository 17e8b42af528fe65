// The LAN source inside a network namespace of the test's own (as root): two servers
// answer the broadcast status query on ports 27910 and 27912, a third stays silent.
#include "support/Waits.h"
#include "core/net/HttpTransfer.h"
#include "core/sources/SourceFetch.h"
#include "core/status/StatusReply.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

#include <cstdlib>
#include <sched.h>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::sources;

namespace {
bool g_namespaced = false;
}

class TestLanSource : public QObject
{
    Q_OBJECT

private slots:
    void gathersAnswers()
    {
        if (!g_namespaced)
            QSKIP("needs root and veth for a private network namespace");
        QList<QUdpSocket *> servers;
        for (quint16 port : {quint16(27910), quint16(27912), quint16(27913)}) {
            auto *s = new QUdpSocket(this);
            QVERIFY(s->bind(QHostAddress::AnyIPv4, port));
            if (port != 27913) {
                connect(s, &QUdpSocket::readyRead, s, [s] {
                    while (s->hasPendingDatagrams()) {
                        const QNetworkDatagram q = s->receiveDatagram();
                        if (q.data().startsWith(status::statusQuery()))
                            s->writeDatagram(
                                q.makeReply("\xff\xff\xff\xffprint\n\\hostname\\LAN\n"));
                    }
                });
            }
            servers.append(s);
        }
        UdpTimings quick;
        quick.lanWaitMs = 500;
        const FetchResult r = test::fetchSourceNow({SourceKind::Lan, QString(), true}, quick);
        QVERIFY2(r.ok, qPrintable(r.error));
        QStringList found;
        for (const ListedServer &row : r.rows)
            found << row.address;
        found.sort();
        QCOMPARE(found, (QStringList{"192.0.2.1:27910", "192.0.2.1:27912"}));
        qDeleteAll(servers);
    }
};

int main(int argc, char *argv[])
{
    // Before any thread exists, so that every socket of the test lives in the namespace.
    if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0) {
        // A veth pair gives the namespace a network with a broadcast address; the
        // kernel loops a broadcast back to the host's own sockets.
        g_namespaced = std::system("ip link set lo up && ip link add v0 type veth peer name v1 && "
                                   "ip addr add 192.0.2.1/24 dev v0 && ip link set v0 up && "
                                   "ip link set v1 up && ip route add default dev v0")
            == 0;
    }
    QCoreApplication app(argc, argv);
    TestLanSource test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_lansource.moc"
