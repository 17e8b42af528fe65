// A list may name only addresses no more private than the host it came from: served from
// a public address, from a private one and from loopback, inside a network namespace of
// the test's own where those addresses are all on its loopback device.
#include "core/sources/SourceFetch.h"
#include "core/sources/SourceSettings.h"
#include "support/Waits.h"
#include "ListService.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTest>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::sources;

namespace {

QString g_noNamespace; // why the test cannot run here, when it cannot

// Runs before the application object, while the process is single-threaded.
void enterPrivateNetwork()
{
    if (geteuid() != 0) {
        g_noNamespace = QStringLiteral("needs root for a private network namespace");
        return;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        g_noNamespace = QStringLiteral("unshare(CLONE_NEWNET) is not allowed here: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (std::system("ip link set lo up && ip addr add 198.51.100.7/32 dev lo"
                    " && ip addr add 10.9.0.1/32 dev lo")
        != 0)
        g_noNamespace = QStringLiteral("could not set up the namespace's addresses");
}

const QByteArray List = "10.1.2.3:27910\n192.168.1.5:27910\n127.0.0.2:27910\n"
                        "203.0.113.9:27910\n100.64.0.1:27910\n";

} // namespace

class TestListScope : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!g_noNamespace.isEmpty())
            QSKIP(qPrintable(g_noNamespace));
    }

    void listHostDecides_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<int>("skipped");
        QTest::newRow("public host: public only")
            << "198.51.100.7" << QStringList{"203.0.113.9:27910"} << 4;
        QTest::newRow("private host: no loopback")
            << "10.9.0.1"
            << QStringList{"10.1.2.3:27910", "192.168.1.5:27910", "203.0.113.9:27910",
                           "100.64.0.1:27910"}
            << 1;
        QTest::newRow("loopback host: anything")
            << "127.0.0.1"
            << QStringList{"10.1.2.3:27910", "192.168.1.5:27910", "127.0.0.2:27910",
                           "203.0.113.9:27910", "100.64.0.1:27910"}
            << 0;
    }
    void listHostDecides()
    {
        QFETCH(QString, host);
        QFETCH(QStringList, kept);
        tools::ListService service;
        QVERIFY2(service.listenInOwnNamespace(QHostAddress(host)),
                 qPrintable(service.errorString()));
        service.setDocument("/?raw=1", List);
        const FetchResult result =
            test::fetchSourceNow({SourceKind::TextList, service.baseUrl() + "/?raw=1", true});
        QVERIFY2(result.ok, qPrintable(result.error));
        QStringList texts;
        for (const ListedServer &r : result.rows)
            texts << r.address;
        QCOMPARE(texts, kept);
        QTEST(result.skippedPrivate, "skipped");
    }
};

int main(int argc, char **argv)
{
    enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    TestListScope test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_listscope.moc"
