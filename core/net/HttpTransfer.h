#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace tarvex {

// One bounded HTTP GET at a time, reported by a signal: get() returns at once and
// finished() comes later from the event loop, exactly once per get() that is not
// aborted.
class HttpTransfer final : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeoutMs = 60'000;
    static constexpr qint64 DefaultMaxBytes = 32 * 1024 * 1024;
    // The response head (status line and header fields) a host may send.
    static constexpr qint64 MaxHeadBytes = 64 * 1024;
    static constexpr int MaxRedirects = 5;

    struct Result
    {
        bool ok = false;
        int httpStatus = 0;
        QByteArray body;
        QString error; // the transfer's own description of the failure
    };

    explicit HttpTransfer(QObject *parent = nullptr);
    ~HttpTransfer() override;

    // Fetches url (http or https only); a transfer under way is aborted first. Fails on
    // a transfer error, an HTTP error status, a body over maxBytes, a head over
    // MaxHeadBytes, a body in a content encoding (only the identity encoding is asked
    // for, so that the byte count is the memory count), a redirect that leaves the
    // scheme, host or port of url, or when the whole exchange, redirects included, has
    // not ended within timeoutMs. A refusal before any request is reported the same
    // way, from the event loop.
    void get(const QUrl &url);
    // Ends the transfer under way; it reports nothing more.
    void abort();
    bool isRunning() const { return m_running; }
    // The address of the latest get().
    QUrl url() const { return m_url; }

    // The deadline for the whole exchange; tests shorten it.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }

    // Text of a body: UTF-16 or UTF-32 when it starts with a byte-order mark or is "<..."
    // in one of them; otherwise UTF-8, or Latin-1 when it is not valid UTF-8.
    static QString decodeBody(const QByteArray &body);

signals:
    void finished(const tarvex::HttpTransfer::Result &result);

private:
    QString tooLargeText() const;
    void refuse(const QString &why);
    void take();
    void headArrived();
    void replyFinished();
    void report(Result result);

    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    QUrl m_url;
    QByteArray m_body;
    QString m_refusal;
    bool m_running = false;
    int m_redirects = 0; // followed or refused in the running exchange
    int m_timeoutMs = DefaultTimeoutMs;
    qint64 m_maxBytes = DefaultMaxBytes;
};

} // namespace tarvex
