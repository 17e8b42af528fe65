#include "ListService.h"

#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace tarvex::tools {

namespace {
constexpr qsizetype MaxRequestHead = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Unknown";
    }
}
} // namespace

ListService::ListService(QObject *parent)
    : QObject(parent),
      m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &ListService::onConnection);
}

ListService::~ListService() = default;

bool ListService::listenInOwnNamespace(const QHostAddress &address, quint16 port)
{
    // The machine's namespace is the one process 1 is in.
    // A namespace whose only device is loopback reaches no other machine, whatever
    // addresses it holds. /proc/self/net/dev lists the devices of the caller's namespace.
    QFile devices(QStringLiteral("/proc/self/net/dev"));
    bool onlyLoopback = devices.open(QIODevice::ReadOnly);
    int count = 0;
    for (const QByteArray &line : devices.readAll().split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue; // the two title lines, the last empty one
        ++count;
        if (line.left(colon).trimmed() != "lo")
            onlyLoopback = false;
    }
    if (!onlyLoopback || count == 0) {
        m_error = QStringLiteral("not in a network namespace of the test's own");
        return false;
    }
    m_anyAddress = true;
    const bool ok = listen(address, port);
    m_anyAddress = false;
    return ok;
}

bool ListService::listen(const QHostAddress &address, quint16 port)
{
    if (!address.isLoopback() && !m_anyAddress) {
        m_error = QStringLiteral("the list service listens on loopback addresses only");
        return false;
    }
    if (!m_server->listen(address, port)) {
        m_error = m_server->errorString();
        return false;
    }
    return true;
}

quint16 ListService::port() const { return m_server->serverPort(); }

QString ListService::baseUrl() const
{
    return QStringLiteral("http://%1:%2").arg(m_server->serverAddress().toString()).arg(port());
}

void ListService::onConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (m_mode == Mode::Close) {
            socket->close();
            continue;
        }
        // The request head read so far lives as long as its socket, which may outlive
        // this service while the server tears its sockets down.
        auto *head = new QByteArray;
        connect(socket, &QObject::destroyed, [head] { delete head; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, head] {
            *head += socket->readAll();
            if (head->size() > MaxRequestHead) {
                socket->abort();
                return;
            }
            if (!head->contains("\r\n\r\n") && !head->contains("\n\n"))
                return;
            const QByteArray requestLine = head->left(head->indexOf('\n')).trimmed();
            head->clear();
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            handle(socket, requestLine);
        });
    }
}

void ListService::handle(QTcpSocket *socket, const QByteArray &requestLine)
{
    // "GET <target> HTTP/1.1"
    const QList<QByteArray> parts = requestLine.split(' ');
    const QByteArray target = parts.size() >= 2 ? parts.at(1) : QByteArray();
    const QByteArray path =
        target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));

    if (path == "/q2serverlist/addserver.asp") {
        const QString recorded = QString::fromLatin1(target);
        m_submissions.append(recorded);
        if (!m_recordFile.isEmpty()) {
            QFile file(m_recordFile);
            if (file.open(QIODevice::Append))
                file.write(target + '\n');
        }
        emit submissionReceived(recorded);
    } else if (path == "/q2servers") {
        ++m_listRequests;
    }

    QPointer<QTcpSocket> guard(socket);
    const auto reply = [this, guard, path, target] {
        if (!guard)
            return;
        switch (m_mode) {
        case Mode::NotFound: answer(guard, 404, "<html><body>Not Found</body></html>"); return;
        case Mode::ServerError:
            answer(guard, 500, "<html><body>Server Error</body></html>");
            return;
        case Mode::Stall:
            guard->write(
                "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n");
            return;
        default: break;
        }
        if (const auto doc = m_documents.constFind(target); doc != m_documents.constEnd())
            answer(guard, 200, *doc, "application/octet-stream");
        else if (const auto byPath = m_documents.constFind(path); byPath != m_documents.constEnd())
            answer(guard, 200, *byPath, "application/octet-stream");
        else if (path == "/q2servers")
            answer(guard, 200, m_page);
        else if (path == "/q2serverlist/addserver.asp")
            answer(guard, 200, "<html><body>Thank you, your server will be added.</body></html>");
        else
            answer(guard, 404, "<html><body>Not Found</body></html>");
    };
    if (m_delayMs > 0)
        QTimer::singleShot(m_delayMs, this, reply);
    else
        reply();
}

void ListService::answer(QTcpSocket *socket, int status, const QByteArray &body,
                         const QByteArray &type)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
        + "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n";
    socket->write(head);
    socket->write(body);
    socket->disconnectFromHost();
}

} // namespace tarvex::tools
