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

    struct Result
    {
        bool ok = false;
        int httpStatus = 0;
        QByteArray body;
        QString error; // the transfer's own description of the failure
    };

    explicit HttpTransfer(QObject *parent = nullptr);

    QUrl URL;

    // Fetches URL. Fails on a transfer error, an HTTP error status, a time-out
    // (no data for timeoutMs), a body over maxBytes, or the program ending meanwhile.
    Result OpenURL();

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
