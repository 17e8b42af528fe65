#pragma once

#include "core/model/ServerKey.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <optional>

class QHostAddress;

// Addresses of game servers as the list sources give them, and the pure parsers of
// those lists. Nothing here touches the network.
namespace tarvex::sources {

// An IPv4 game server address; ip in host order.
struct ServerAddress
{
    quint32 ip = 0;
    quint16 port = 0;

    quint64 key() const { return model::ServerKey::packAddress(ip, port); }
    QString toString() const; // "a.b.c.d:port"
    friend bool operator==(const ServerAddress &a, const ServerAddress &b)
    {
        return a.ip == b.ip && a.port == b.port;
    }
};

// The port a Quake 2 server listens on unless told otherwise.
constexpr quint16 DefaultGamePort = 27910;
// No list is taken beyond this many addresses.
constexpr int MaxListEntries = 65536;
// Bodies of HTTP lists are refused beyond this size (the page's own bound).
constexpr qint64 MaxListBodyBytes = 32 * 1024 * 1024;

// Why an address from a list is refused, or Usable.
enum class AddressCheck { Usable, LowPort, ThisNetwork, Broadcast, Multicast, Reserved };

// A list may only aim queries at game servers: ports below 1024 belong to other
// services, and 0.0.0.0/8, broadcast, multicast and reserved addresses are no host.
AddressCheck checkAddress(const ServerAddress &address);

// How far from the user an address lies: loopback, a private network (10/8, 172.16/12,
// 192.168/16, 169.254/16, 100.64/10), or the public internet.
enum class AddressScope { Loopback = 0, Private = 1, Public = 2 };
AddressScope scopeOf(quint32 ip);

// A list may name an address only when it is no more private than the address the list
// came from: a list from a public host names public servers only, one from a private
// network private or public ones, one from loopback anything. This keeps a list from
// the internet from aiming queries and pings into the user's own network.
inline bool mayName(AddressScope listFrom, quint32 ip) { return int(scopeOf(ip)) >= int(listFrom); }

// "a.b.c.d:port" in strict dotted decimal (four parts of 0-255, no blanks, a port of
// 1-65535). No value for anything else; nothing is looked up.
std::optional<ServerAddress> parseAddressText(QStringView text);

// What a list gave: the usable addresses in list order (duplicates within the list
// dropped), and how many entries were refused or left out.
struct ListResult
{
    QList<ServerAddress> addresses;
    int refused = 0; // malformed or not usable
    bool capped = false; // more than MaxListEntries entries: the rest was left out
};

// One "a.b.c.d:port" per line, LF or CR LF; blank lines and lines starting with "#"
// are skipped, and anything after the address (a blank and an info string) ignored.
ListResult parseTextList(const QByteArray &body);

// 6-byte records: the IPv4 address, then the port, both in network order, no header;
// a trailing partial record is ignored.
ListResult parseBinaryList(const QByteArray &body);

// The datagram a master sends in answer to "query": "\xff\xff\xff\xffservers " then
// 6-byte records. No value when it is not such an answer or did not come from the
// master's own address and port.
std::optional<ListResult> parseMasterReply(const QByteArray &datagram, const QHostAddress &from,
                                           quint16 fromPort, const QHostAddress &master,
                                           quint16 masterPort);

// The query a master answers with its list.
QByteArray masterQuery();

} // namespace tarvex::sources
