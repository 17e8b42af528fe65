#include "core/sources/ServerAddress.h"

#include <QHostAddress>
#include <QSet>
#include <QtEndian>

namespace tarvex::sources {

namespace {

const QByteArray PacketHeader("\xff\xff\xff\xff", 4);
const QByteArray MasterAnswerHeader = PacketHeader + "servers ";

// One decimal part of 0 to max without sign, blanks or leading "+"; at most 5 digits.
std::optional<quint32> decimal(QStringView text, quint32 max)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    quint32 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + quint32(c.unicode() - u'0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}

// Collects addresses in order, dropping repeats and refused ones, up to the cap.
struct Collector
{
    ListResult result;
    QSet<quint64> seen;

    // False once the cap is reached.
    bool add(std::optional<ServerAddress> address)
    {
        if (result.addresses.size() >= MaxListEntries) {
            result.capped = true;
            return false;
        }
        if (!address || checkAddress(*address) != AddressCheck::Usable) {
            ++result.refused;
            return true;
        }
        if (!seen.contains(address->key())) {
            seen.insert(address->key());
            result.addresses.append(*address);
        }
        return true;
    }
};

void readRecords(const char *data, qsizetype size, Collector &out)
{
    for (qsizetype at = 0; at + 6 <= size; at += 6) {
        ServerAddress a;
        a.ip = qFromBigEndian<quint32>(data + at);
        a.port = qFromBigEndian<quint16>(data + at + 4);
        if (!out.add(a))
            break;
    }
}

} // namespace

QString ServerAddress::toString() const
{
    return QStringLiteral("%1.%2.%3.%4:%5")
        .arg(ip >> 24)
        .arg((ip >> 16) & 0xff)
        .arg((ip >> 8) & 0xff)
        .arg(ip & 0xff)
        .arg(port);
}

AddressCheck checkAddress(const ServerAddress &address)
{
    const quint32 first = address.ip >> 24;
    if (address.port < 1024)
        return AddressCheck::LowPort;
    if (first == 0)
        return AddressCheck::ThisNetwork;
    // The limited broadcast, and the last address of a /24, which on most networks is
    // their broadcast: a query there would reach every host of the network.
    if (address.ip == 0xffffffffu || (address.ip & 0xff) == 0xff)
        return AddressCheck::Broadcast;
    if (first >= 224 && first <= 239)
        return AddressCheck::Multicast;
    if (first >= 240)
        return AddressCheck::Reserved;
    return AddressCheck::Usable;
}

std::optional<ServerAddress> parseAddressText(QStringView text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    const QStringView host = text.first(colon);
    const std::optional<quint32> port = decimal(text.sliced(colon + 1), 65535);
    if (!port || *port == 0)
        return std::nullopt;
    ServerAddress a;
    a.port = quint16(*port);
    qsizetype start = 0;
    for (int part = 0; part < 4; ++part) {
        qsizetype end = part < 3 ? host.indexOf(u'.', start) : host.size();
        if (end < 0)
            return std::nullopt;
        const std::optional<quint32> value = decimal(host.sliced(start, end - start), 255);
        if (!value)
            return std::nullopt;
        a.ip = (a.ip << 8) | *value;
        start = end + 1;
    }
    return a;
}

ListResult parseTextList(const QByteArray &body)
{
    Collector out;
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        QByteArrayView line(body.constData() + start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        // An info string may follow the address after a blank or a tab.
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == ' ' || line[i] == '\t') {
                line.truncate(i);
                break;
            }
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.size() > 21) { // longer than "255.255.255.255:65535"
            if (!out.add(std::nullopt))
                break;
            continue;
        }
        if (!out.add(parseAddressText(QString::fromLatin1(line))))
            break;
    }
    return out.result;
}

ListResult parseBinaryList(const QByteArray &body)
{
    Collector out;
    readRecords(body.constData(), body.size(), out);
    return out.result;
}

std::optional<ListResult> parseMasterReply(const QByteArray &datagram, const QHostAddress &from,
                                           quint16 fromPort, const QHostAddress &master,
                                           quint16 masterPort)
{
    bool fromOk = false, masterOk = false;
    const quint32 fromIp = from.toIPv4Address(&fromOk);
    const quint32 masterIp = master.toIPv4Address(&masterOk);
    if (!fromOk || !masterOk || fromIp != masterIp || fromPort != masterPort)
        return std::nullopt;
    if (!datagram.startsWith(MasterAnswerHeader))
        return std::nullopt;
    Collector out;
    readRecords(datagram.constData() + MasterAnswerHeader.size(),
                datagram.size() - MasterAnswerHeader.size(), out);
    return out.result;
}

QByteArray masterQuery() { return QByteArray("query\n\0", 7); }

AddressScope scopeOf(quint32 ip)
{
    const auto in = [ip](quint32 net, int bits) {
        return (ip >> (32 - bits)) == (net >> (32 - bits));
    };
    if (in(0x7f000000, 8))
        return AddressScope::Loopback;
    if (in(0x0a000000, 8) || in(0xac100000, 12) || in(0xc0a80000, 16) || in(0xa9fe0000, 16)
        || in(0x64400000, 10))
        return AddressScope::Private;
    return AddressScope::Public;
}

} // namespace tarvex::sources
