// A hostile list host on loopback: every answer it can give ends within the fetch's
// deadline, with a message that names the cause, and without the memory growing past
// a bound whatever the page claims or holds.
#include "support/Waits.h"
#include "core/browser/ServerListFetch.h"
#include "core/browser/ServerListParser.h"
#include "core/net/HttpTransfer.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <functional>
#include <sys/resource.h>
#include <zlib.h>

using namespace tarvex;

namespace {

constexpr qint64 PeakLimitBytes = 200 * 1024 * 1024;
// AddressSanitizer keeps freed memory in quarantine and adds shadow memory, so a
// sanitizer build's peak says nothing about the program's: its memory is not checked.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool CheckPeak = false;
#else
constexpr bool CheckPeak = true;
#endif

qint64 peakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

// A gzip stream of `size` zero bytes: a few hundred KiB on the wire.
QByteArray gzipOfZeros(qint64 size)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const QByteArray zeros(1024 * 1024, '\0');
    QByteArray out;
    char buffer[64 * 1024];
    for (qint64 left = size; left >= 0; left -= zeros.size()) {
        const bool last = left <= zeros.size();
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(zeros.data()));
        z.avail_in = uInt(last ? left : zeros.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buffer, int(sizeof buffer - z.avail_out));
        } while (z.avail_out == 0);
        if (last)
            break;
    }
    deflateEnd(&z);
    return out;
}

// Answers every connection with exact bytes: a head, then a body produced piece by
// piece as the socket drains (so that the service itself holds little), optionally
// one byte per tick.
class RawService : public QObject
{
public:
    QByteArray head;
    QByteArray laterHead; // when set, the head for every request after the first
    std::function<QByteArray(qint64 sent)> nextPiece; // empty: the body is complete
    int trickleMs = 0; // > 0: one byte per tick
    bool silent = false; // accept, never answer

    RawService()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection())
                serve(s);
        });
    }
    QString url(const QString &path = QStringLiteral("/q2servers")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    void serve(QTcpSocket *s)
    {
        s->setParent(this);
        if (silent)
            return;
        connect(s, &QTcpSocket::readyRead, s, [this, s] {
            if (!s->readAll().contains("\r\n\r\n"))
                return;
            s->write(m_requests++ > 0 && !laterHead.isEmpty() ? laterHead : head);
            if (trickleMs > 0) {
                auto *tick = new QTimer(s);
                connect(tick, &QTimer::timeout, s, [s] { s->write("x"); });
                tick->start(trickleMs);
            } else {
                feed(s);
                connect(s, &QTcpSocket::bytesWritten, s, [this, s] { feed(s); });
            }
        });
    }
    void feed(QTcpSocket *s)
    {
        if (!nextPiece || s->bytesToWrite() > 256 * 1024)
            return;
        const qint64 sent = s->property("sent").toLongLong();
        const QByteArray piece = nextPiece(sent);
        if (piece.isEmpty()) {
            s->disconnectFromHost();
            return;
        }
        s->setProperty("sent", sent + piece.size());
        s->write(piece);
    }

    QTcpServer m_server;
    int m_requests = 0;
};

// A body of `size` bytes of `fill`, served 64 KiB at a time.
std::function<QByteArray(qint64)> bodyOf(qint64 size, char fill)
{
    return [size, fill](qint64 sent) {
        return QByteArray(int(std::min<qint64>(64 * 1024, size - sent)), fill);
    };
}

} // namespace

class HostileListTest : public QObject
{
    Q_OBJECT

private slots:
    void hostileAnswers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("gzip bomb") << "gzip"
                                   << "came compressed (gzip) though it was not asked for";
        QTest::newRow("trickle, 1 byte a tick") << "trickle"
                                                << "did not answer within 1 seconds";
        QTest::newRow("redirect to a silent port") << "redirect-port"
                                                   << "only a redirect on the same host and port";
        QTest::newRow("redirect on the host, then silence") << "redirect-stall"
                                                            << "did not answer within 1 seconds";
        // A loop on the same host is followed until the bound, and then says so.
        QTest::newRow("redirect loop to the same page") << "redirect-loop"
                                                        << "a redirect loop";
        QTest::newRow("silent host") << "silent"
                                     << "did not answer within 1 seconds";
        QTest::newRow("50 header fields of 2000 bytes") << "fields"
                                                        << "response head larger than 64 KiB";
        QTest::newRow("64 MiB header line") << "header"
                                            << "did not answer within 1 seconds";
        QTest::newRow("body over 32 MiB, no length") << "unsized"
                                                     << "larger than 32 MiB and was refused";
        QTest::newRow("file scheme") << "file"
                                     << "is not a web address";
        QTest::newRow("javascript scheme") << "javascript"
                                           << "is not a web address";
    }
    void hostileAnswers()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        RawService service;
        RawService silentPort;
        silentPort.silent = true;
        HttpTransfer transfer;
        transfer.setTimeoutMs(1000);
        QUrl url(service.url());
        if (kind == QLatin1String("gzip")) {
            const QByteArray bomb = gzipOfZeros(qint64(256) * 1024 * 1024);
            QVERIFY(bomb.size() < 2 * 1024 * 1024);
            service.head = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: "
                + QByteArray::number(bomb.size()) + "\r\n\r\n";
            service.nextPiece = [bomb](qint64 sent) { return bomb.mid(sent, 64 * 1024); };
        } else if (kind == QLatin1String("trickle")) {
            service.head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
            service.trickleMs = 20;
        } else if (kind == QLatin1String("redirect-port")) {
            service.head = "HTTP/1.1 302 Found\r\nLocation: " + silentPort.url().toLatin1()
                + "\r\nContent-Length: 0\r\n\r\n";
        } else if (kind == QLatin1String("redirect-stall")) {
            // Followed, and then the page never comes: the deadline still holds.
            service.head =
                "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n";
            service.laterHead = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
        } else if (kind == QLatin1String("redirect-loop")) {
            service.head = "HTTP/1.1 302 Found\r\nLocation: /q2servers\r\nContent-Length: 0\r\n"
                           "Connection: close\r\n\r\n";
        } else if (kind == QLatin1String("silent")) {
            url = QUrl(silentPort.url());
        } else if (kind == QLatin1String("header")) {
            // Read by Qt before any field reaches this side; the deadline ends it.
            service.head = "HTTP/1.1 200 OK\r\nX-Junk: ";
            const qint64 junk = qEnvironmentVariableIntValue("TARVEX_HEAD_MIB", nullptr) > 0
                ? qint64(qEnvironmentVariableIntValue("TARVEX_HEAD_MIB")) << 20
                : qint64(64) << 20;
            if (qEnvironmentVariableIsSet("TARVEX_HEAD_MIB"))
                transfer.setTimeoutMs(HttpTransfer::DefaultTimeoutMs);
            service.nextPiece = [junk](qint64 sent) {
                if (sent >= junk)
                    return sent == junk ? QByteArray("\r\nContent-Length: 0\r\n\r\n ")
                                        : QByteArray();
                return QByteArray(int(std::min<qint64>(64 * 1024, junk - sent)), 'a');
            };
        } else if (kind == QLatin1String("fields")) {
            service.head = "HTTP/1.1 200 OK\r\n";
            for (int i = 0; i < 50; ++i)
                service.head +=
                    "X-Junk-" + QByteArray::number(i) + ": " + QByteArray(2000, 'a') + "\r\n";
            service.head += "Content-Length: 0\r\n\r\n";
        } else if (kind == QLatin1String("unsized")) {
            service.head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
            service.nextPiece = bodyOf(HttpTransfer::DefaultMaxBytes + 1024 * 1024, 'x');
        } else if (kind == QLatin1String("file")) {
            url = QUrl(QStringLiteral("file://localhost/etc/hostname"));
        } else if (kind == QLatin1String("javascript")) {
            url = QUrl(QStringLiteral("javascript:alert(1)"));
        }

        QElapsedTimer clock;
        clock.start();
        const HttpTransfer::Result result = test::fetchNow(transfer, url);
        const qint64 took = clock.elapsed();
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(message), qPrintable(result.error));
        QVERIFY(result.body.isEmpty());
        QVERIFY2(took < 5000, qPrintable(QStringLiteral("took %1 ms").arg(took)));
        const qint64 peak = peakResidentBytes();
        QVERIFY2(!CheckPeak || peak < PeakLimitBytes,
                 qPrintable(QStringLiteral("peak %1 MB").arg(peak >> 20)));
        qInfo("%s: %lld ms, peak resident %lld MB", qPrintable(kind), took, peak >> 20);
    }

    // A page of text without a row end is cut into a row per four characters; the rows
    // stop at the bound and the fetch says the page was cut.
    void pageWithoutRowEnds()
    {
        test::TempSettings settings;
        RawService service;
        const qint64 size = 32 * 1024 * 1024 - 64;
        service.head =
            "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n";
        service.nextPiece = bodyOf(size, 'j');
        settings.writeIni("[Endpoints]\nServerListHost=" + service.url(QString()).toUtf8() + "\n");
        HttpTransfer transfer;
        QElapsedTimer clock;
        clock.start();
        const ServerList::FetchedList list = test::fetchPageNow(transfer);
        QVERIFY2(list.ok, qPrintable(list.error));
        QVERIFY(list.cut);
        QCOMPARE(list.rows.size(), ServerList::MaxRows);
        const qint64 peak = peakResidentBytes();
        QVERIFY2(!CheckPeak || peak < PeakLimitBytes,
                 qPrintable(QStringLiteral("peak %1 MB").arg(peak >> 20)));
        qInfo("no </tr>: %lld ms, peak resident %lld MB", clock.elapsed(), peak >> 20);
    }

    // A stored list host that cannot be used is reported and nothing is fetched.
    void unusableStoredHost()
    {
        test::TempSettings settings;
        settings.writeIni("[Endpoints]\nServerListHost=file://localhost/etc\n");
        HttpTransfer transfer;
        const ServerList::FetchedList list = test::fetchPageNow(transfer);
        QVERIFY(!list.ok);
        QVERIFY2(list.error.contains(QLatin1String("only http and https")), qPrintable(list.error));
        QVERIFY(!transfer.isRunning());
    }
};

QTEST_GUILESS_MAIN(HostileListTest)
#include "tst_hostilelist.moc"
