#include "core/sources/SourceFetch.h"

#include "core/browser/ServerListFetch.h"
#include "core/net/HttpTransfer.h"
#include "core/browser/Settings.h"
#include "core/status/StatusReply.h"
#include "core/NestedWait.h"
#include "core/Program.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QUdpSocket>
#include <QVariant>

namespace tarvex::sources {

namespace {

FetchResult fromList(const ListResult &list)
{
    FetchResult r;
    r.ok = true;
    r.rows = addressRows(list.addresses);
    r.refused = list.refused;
    r.capped = list.capped;
    return r;
}

FetchResult failure(const QString &why)
{
    FetchResult r;
    r.error = why;
    return r;
}

// An IPv4 address of host: a dotted address as it is, a name through the resolver.
std::optional<QHostAddress> resolve(const QString &host, int waitMs)
{
    if (const auto literal = parseAddressText(host + QStringLiteral(":1")))
        return QHostAddress(literal->ip);
    std::optional<QHostAddress> found;
    NestedWait wait;
    QHostInfo::lookupHost(host, wait.context(), [&](const QHostInfo &info) {
        for (const QHostAddress &a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                found = a;
                break;
            }
        }
        wait.finish();
    });
    wait.exec(waitMs);
    return found;
}

FetchResult fetchHttp(const SourceEntry &entry, HttpTransfer &http)
{
    http.URL = QUrl(entry.address.trimmed());
    http.setMaxBytes(MaxListBodyBytes);
    const HttpTransfer::Result fetched = http.OpenURL();
    if (!fetched.ok)
        return failure(fetched.error);
    return fromList(entry.kind == SourceKind::TextList ? parseTextList(fetched.body)
                                                       : parseBinaryList(fetched.body));
}

FetchResult fetchPage(const SourceEntry &entry, HttpTransfer &http)
{
    // The same bounded fetch as the page-only refresh: host checks, row bound and all.
    const ServerList::FetchedList list = ServerList::fetchServerList(http, entry.address.trimmed());
    if (!list.ok)
        return failure(list.error.isEmpty() ? QStringLiteral("The server-list page holds no list.")
                                            : list.error);
    FetchResult r;
    r.ok = true;
    r.capped = list.cut;
    r.rows.reserve(list.rows.size());
    for (const QStringList &cells : list.rows)
        r.rows.append(pageRow(cells.value(0), cells.value(1), cells.value(2), cells.value(3)));
    return r;
}

FetchResult fetchMaster(const SourceEntry &entry, const UdpTimings &timings)
{
    const QString text = entry.address.trimmed();
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? text : text.left(colon);
    bool portOk = colon < 0;
    const uint portValue = colon < 0 ? DefaultMasterPort : text.mid(colon + 1).toUInt(&portOk);
    if (!portOk || portValue == 0 || portValue > 65535 || host.isEmpty())
        return failure(QStringLiteral("%1 is not a master address (host:port)").arg(text));
    const quint16 port = quint16(portValue);
    const std::optional<QHostAddress> address = resolve(host, timings.lookupWaitMs);
    if (Program::endRequested())
        return failure(QStringLiteral("The program is ending."));
    if (!address)
        return failure(QStringLiteral("Host %1 not found").arg(host));

    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, 0))
        return failure(socket.errorString());
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(1 << 20));
    std::optional<ListResult> list;
    // One query, and one more when the first answer is lost.
    for (int attempt = 0; attempt < 2 && !list && !Program::endRequested(); ++attempt) {
        NestedWait wait;
        QObject::connect(&socket, &QUdpSocket::readyRead, wait.context(), [&] {
            for (int guard = 0; guard < 256 && socket.hasPendingDatagrams() && !list; ++guard) {
                const QNetworkDatagram d = socket.receiveDatagram(65536);
                list = parseMasterReply(d.data(), d.senderAddress(), quint16(d.senderPort()),
                                        *address, port);
            }
            if (list)
                wait.finish();
        });
        if (socket.writeDatagram(masterQuery(), *address, port) < 0)
            return failure(socket.errorString());
        wait.exec(timings.masterWaitMs);
    }
    if (!list)
        return failure(QStringLiteral("No answer from %1:%2").arg(address->toString()).arg(port));
    return fromList(*list);
}

FetchResult fetchLan(const SourceEntry &entry, const UdpTimings &timings)
{
    const QString text = entry.address.trimmed();
    QHostAddress broadcast = QHostAddress::Broadcast;
    if (!text.isEmpty()) {
        const auto parsed = parseAddressText(text + QStringLiteral(":1"));
        if (!parsed)
            return failure(QStringLiteral("%1 is not an IPv4 address").arg(text));
        broadcast = QHostAddress(parsed->ip);
    }
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, 0))
        return failure(socket.errorString());
    QList<ServerAddress> found;
    QSet<quint64> seen;
    int refused = 0;
    NestedWait wait;
    QObject::connect(&socket, &QUdpSocket::readyRead, wait.context(), [&] {
        for (int guard = 0; guard < 1024 && socket.hasPendingDatagrams(); ++guard) {
            const QNetworkDatagram d = socket.receiveDatagram(65536);
            bool v4 = false;
            const ServerAddress from{d.senderAddress().toIPv4Address(&v4), quint16(d.senderPort())};
            if (!v4 || !status::parseStatusReply(d.data()))
                continue;
            if (checkAddress(from) != AddressCheck::Usable) {
                ++refused;
                continue;
            }
            if (!seen.contains(from.key()) && found.size() < MaxListEntries) {
                seen.insert(from.key());
                found.append(from);
            }
        }
    });
    QString sendError;
    for (quint16 port = LanFirstPort; port <= LanLastPort; ++port) {
        if (socket.writeDatagram(status::statusQuery(), broadcast, port) < 0)
            sendError = socket.errorString();
    }
    if (!sendError.isEmpty() && found.isEmpty())
        return failure(sendError);
    wait.exec(timings.lanWaitMs); // answers are gathered until the time is up
    ListResult list;
    list.addresses = found;
    list.refused = refused;
    return fromList(list);
}

FetchResult favourites(const SourceEntry &entry)
{
    ListResult list;
    QSet<quint64> seen;
    for (const QString &item :
         entry.address.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts)) {
        const auto a = parseAddressText(item);
        if (!a || checkAddress(*a) != AddressCheck::Usable) {
            ++list.refused;
            continue;
        }
        if (!seen.contains(a->key()) && list.addresses.size() < MaxListEntries) {
            seen.insert(a->key());
            list.addresses.append(*a);
        }
    }
    return fromList(list);
}

} // namespace

FetchResult fetchSource(const SourceEntry &entry, HttpTransfer &http, const UdpTimings &timings)
{
    switch (entry.kind) {
    case SourceKind::Page: return fetchPage(entry, http);
    case SourceKind::TextList:
    case SourceKind::BinaryList: return fetchHttp(entry, http);
    case SourceKind::Master: return fetchMaster(entry, timings);
    case SourceKind::Lan: return fetchLan(entry, timings);
    case SourceKind::Favourites: return favourites(entry);
    }
    return failure(QStringLiteral("Unknown source"));
}

} // namespace tarvex::sources
