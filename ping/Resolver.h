#pragma once

// Asynchronous host lookups for the Ping control. A lookup runs getaddrinfo (forward, with
// the official name) or getnameinfo (reverse, a name required) on a thread of its own, and
// its completion is delivered on the thread of the receiving object through its event loop.
//
// Qt's QHostInfo is not used: it gives no official name for a forward lookup, answers a
// failed reverse lookup with the address text instead of a failure, and keeps a cache.

#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

namespace pingocx {

struct LookupResult
{
    bool ok = false;
    quint32 address = 0; // first IPv4 address, network byte order
    QByteArray officialName; // single-byte characters
};

// Where completions go. The owner calls detach() before it is destroyed; a lookup that
// completes later is then dropped.
class LookupSink
{
public:
    using Handler = std::function<void(qint32 id, const LookupResult &)>;
    LookupSink(QObject *context, Handler handler);
    void detach();
    void deliver(qint32 id, const LookupResult &result);

private:
    std::mutex m_mutex;
    QObject *m_target = nullptr;
    Handler m_handler;
};

// Starts a forward lookup of name, or a reverse lookup of address (network byte order).
// Returns the lookup's id (positive), or 0 when it could not be started.
qint32 startForwardLookup(const std::shared_ptr<LookupSink> &sink, const QByteArray &name);
qint32 startReverseLookup(const std::shared_ptr<LookupSink> &sink, quint32 address);

// Lookups started and not yet finished, in the whole library.
int pendingLookups();

} // namespace pingocx
