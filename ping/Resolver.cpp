#include "Resolver.h"

#include <QMetaObject>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace pingocx {

namespace {

std::atomic<int> g_pending{0};
std::atomic<qint32> g_lastId{0};

qint32 nextId()
{
    qint32 id = g_lastId.fetch_add(1) + 1;
    if (id <= 0) { // wrapped around: start again at 1
        g_lastId.store(1);
        id = 1;
    }
    return id;
}

LookupResult forward(const QByteArray &name)
{
    LookupResult result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *list = nullptr;
    if (name.isEmpty() || getaddrinfo(name.constData(), nullptr, &hints, &list) != 0 || !list)
        return result;
    for (const addrinfo *ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr) {
            sockaddr_in sin;
            std::memcpy(&sin, ai->ai_addr, sizeof sin);
            result.address = sin.sin_addr.s_addr;
            result.ok = true;
            break;
        }
    }
    // A numeric "name" has no canonical name: the text itself is its name.
    const char *canonical = list->ai_canonname;
    result.officialName = QByteArray(canonical && *canonical ? canonical : name.constData());
    freeaddrinfo(list);
    return result;
}

LookupResult reverse(quint32 address)
{
    LookupResult result;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address;
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&sin), sizeof sin, host, sizeof host,
                    nullptr, 0, NI_NAMEREQD)
        != 0)
        return result;
    result.ok = true;
    result.address = address;
    result.officialName = QByteArray(host);
    return result;
}

qint32 start(const std::shared_ptr<LookupSink> &sink, std::function<LookupResult()> work)
{
    const qint32 id = nextId();
    ++g_pending;
    try {
        std::thread([sink, id, work = std::move(work)] {
            const LookupResult result = work();
            sink->deliver(id, result);
            --g_pending;
        }).detach();
    } catch (...) {
        --g_pending;
        return 0;
    }
    return id;
}

} // namespace

LookupSink::LookupSink(QObject *context, Handler handler)
    : m_target(context),
      m_handler(std::move(handler))
{ }

void LookupSink::detach()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_target = nullptr;
}

void LookupSink::deliver(qint32 id, const LookupResult &result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_target)
        return;
    // The object cannot go away while the lock is held: its destructor detaches first.
    // Events still posted to it when it is destroyed are discarded by Qt.
    Handler handler = m_handler;
    QMetaObject::invokeMethod(
        m_target, [handler, id, result] { handler(id, result); }, Qt::QueuedConnection);
}

qint32 startForwardLookup(const std::shared_ptr<LookupSink> &sink, const QByteArray &name)
{
    return start(sink, [name] { return forward(name); });
}

qint32 startReverseLookup(const std::shared_ptr<LookupSink> &sink, quint32 address)
{
    return start(sink, [address] { return reverse(address); });
}

int pendingLookups() { return g_pending.load(); }

} // namespace pingocx
