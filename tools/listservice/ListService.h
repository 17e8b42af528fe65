#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

namespace tarvex::tools {

// A small HTTP service for the demo and the tests: it serves the server-list page at
// /q2servers and records every request to /q2serverlist/addserver.asp exactly as its
// request target arrived. It listens on loopback only. Failure modes let the tests
// meet the answers a real list host can give.
class ListService final : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Normal, // 200 with the page
        NotFound, // 404 for every path
        ServerError, // 500 for every path
        Stall, // headers (with a length) and then nothing, connection kept open
        Close, // accept the connection and close it without answering
    };

    explicit ListService(QObject *parent = nullptr);
    ~ListService() override;

    // Listens on address:port (port 0: any free one). False with a reason when it can't.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Listens on any address of a network namespace the caller made for itself
    // (unshare(CLONE_NEWNET)), where no address reaches another machine. Refused when the
    // namespace has any device but loopback.
    bool listenInOwnNamespace(const QHostAddress &address, quint16 port = 0);
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"
    QString errorString() const { return m_error; }

    void setPage(const QByteArray &page) { m_page = page; }
    // Serves body (as plain bytes) at target: a path with or without its query
    // ("/?raw=1"); a request matches its whole target first, then its path alone.
    void setDocument(const QByteArray &target, const QByteArray &body)
    {
        m_documents.insert(target, body);
    }
    void setMode(Mode mode) { m_mode = mode; }
    void setDelayMs(int ms) { m_delayMs = ms; }
    // When set, each recorded submission is also appended to this file, one a line.
    void setRecordFile(const QString &path) { m_recordFile = path; }

    // Request targets of the add-server requests received so far, as sent.
    QStringList submissions() const { return m_submissions; }
    int listRequests() const { return m_listRequests; }

signals:
    void submissionReceived(const QString &target);

private:
    void onConnection();
    void handle(QTcpSocket *socket, const QByteArray &requestLine);
    void answer(QTcpSocket *socket, int status, const QByteArray &body,
                const QByteArray &type = "text/html");

    QTcpServer *m_server;
    QByteArray m_page;
    QHash<QByteArray, QByteArray> m_documents;
    Mode m_mode = Mode::Normal;
    int m_delayMs = 0;
    QString m_recordFile;
    QStringList m_submissions;
    int m_listRequests = 0;
    QString m_error;
    bool m_anyAddress = false;
};

} // namespace tarvex::tools
