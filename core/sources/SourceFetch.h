#pragma once

#include "core/sources/Merge.h"
#include "core/net/HttpTransfer.h"
#include "core/sources/SourceSettings.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <optional>

class QUdpSocket;

namespace tarvex::sources {

// What one source gave.
struct FetchResult
{
    bool ok = false;
    QString error; // why it failed, for the status line or the message box
    QList<ListedServer> rows;
    int refused = 0; // entries that were no usable address
    bool capped = false;
    // Addresses left out because they are more private than the list's own host.
    int skippedPrivate = 0;
};

// Timings of the UDP sources, in milliseconds.
struct UdpTimings
{
    int masterWaitMs = 1500; // per try; one retry
    int lanWaitMs = 1500; // answers gathered for this long
    int lookupWaitMs = 10000;
};

// Fetches one source without waiting: start() returns at once and finished() reports
// the result later, from the event loop, exactly once per start() that is not
// cancelled. HTTP sources go through a bounded HttpTransfer (its time-out and body
// bound apply); the UDP sources gather answers for their timings.
class SourceFetch final : public QObject
{
    Q_OBJECT

public:
    explicit SourceFetch(QObject *parent = nullptr);
    ~SourceFetch() override;

    // Starts fetching entry; a fetch under way is cancelled first.
    void start(const SourceEntry &entry, const UdpTimings &timings = {});
    // Ends the fetch under way; nothing more is reported for it.
    void cancel();
    bool isRunning() const { return m_running; }
    const SourceEntry &entry() const { return m_entry; }
    HttpTransfer &http() { return *m_http; }

signals:
    void finished(const tarvex::sources::FetchResult &result);

private:
    void startMaster();
    void sendMasterQuery();
    void readMaster();
    void startLan();
    void readLan();
    void httpFinished(const tarvex::HttpTransfer::Result &fetched);
    void startHttp(const QUrl &url, qint64 maxBytes);
    // Drops the rows the list's host may not name (see mayName) and counts them.
    FetchResult scoped(FetchResult result) const;
    void lookedUp(const QHostAddress &address);
    void finish(FetchResult result);
    void finishLater(FetchResult result);
    void closeSocket();

    SourceEntry m_entry;
    UdpTimings m_timings;
    HttpTransfer *m_http;
    QUdpSocket *m_socket = nullptr;
    QTimer m_timer;
    int m_lookupId = -1;
    AddressScope m_listScope = AddressScope::Loopback; // where the list came from
    bool m_running = false;
    int m_generation = 0;
    // The master's address and port once looked up, and its tries so far.
    QHostAddress m_master;
    quint16 m_masterPort = 0;
    QString m_masterHost;
    int m_masterTries = 0;
    // The LAN's answers so far.
    QList<ServerAddress> m_found;
    QSet<quint64> m_seen;
    int m_refused = 0;
};

// The status and LAN queries go to these ports of the broadcast address.
constexpr quint16 LanFirstPort = 27910;
constexpr quint16 LanLastPort = 27913;
constexpr quint16 DefaultMasterPort = 27900;

} // namespace tarvex::sources
