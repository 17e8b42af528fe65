#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace tarvex {

// Synchronous HTTP GET for the window's handlers: the request runs on a local event
// loop, so the windows keep repainting and other handlers may run while it waits.
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

    QUrl URL;

    // Fetches URL (http or https only). Fails on a transfer error, an HTTP error status,
    // a body over maxBytes, a head over MaxHeadBytes, a body in a content encoding
    // (only the identity encoding is asked for, so that the byte count is the memory
    // count), a redirect that leaves the scheme, host or port of URL, or when the whole
    // exchange, redirects included, has not ended within timeoutMs, or the program ends.
    Result OpenURL();

    // The deadline for the whole exchange; tests shorten it.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }
    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }

    // Text of a body: UTF-16 or UTF-32 when it starts with a byte-order mark or is "<..."
    // in one of them; otherwise UTF-8, or Latin-1 when it is not valid UTF-8.
    static QString decodeBody(const QByteArray &body);

private:
    QNetworkAccessManager *m_manager;
    int m_timeoutMs = DefaultTimeoutMs;
    qint64 m_maxBytes = DefaultMaxBytes;
};

} // namespace tarvex
