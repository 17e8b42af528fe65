#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringView>
#include <QtGlobal>

namespace tarvex::model {

// The identity of one game server in the browser. A server reached by an IPv4
// address is its address and port; a page row whose address is a host name keeps
// that address text as its identity, since nothing is looked up to turn it into
// numbers.
struct ServerKey
{
    quint32 ip = 0; // host order; 0 when host is set
    quint16 port = 0;
    QString host; // the address text of a host-name row, else empty

    // The one packing of an IPv4 address and port into a single number, used by every
    // table that finds a server by where it answers from.
    static constexpr quint64 packAddress(quint32 ip, quint16 port)
    {
        return (quint64(ip) << 16) | port;
    }

    static ServerKey fromAddress(quint32 ip, quint16 port) { return {ip, port, {}}; }
    // "a.b.c.d:port" (or "a.b.c.d", the default game port) becomes a numeric key;
    // any other text is kept as it is.
    static ServerKey fromAddressText(QStringView text);

    bool isNumeric() const { return host.isEmpty(); }
    quint64 packed() const { return packAddress(ip, port); }
    // "a.b.c.d:port" for a numeric key, the kept text otherwise.
    QString toString() const;

    friend bool operator==(const ServerKey &a, const ServerKey &b)
    {
        return a.ip == b.ip && a.port == b.port && a.host == b.host;
    }
    friend bool operator!=(const ServerKey &a, const ServerKey &b) { return !(a == b); }
    friend size_t qHash(const ServerKey &k, size_t seed = 0)
    {
        return k.isNumeric() ? qHash(k.packed(), seed) : qHash(k.host, seed);
    }
};

} // namespace tarvex::model
