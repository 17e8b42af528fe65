#include "core/sources/SourceFetch.h"

#include "core/browser/ServerListFetch.h"
#include "core/net/HttpTransfer.h"
#include "core/browser/Settings.h"
#include "core/status/StatusReply.h"

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

// The host and port of a master entry ("host[:port]"), or none.
bool splitMaster(const QString &text, QString *host, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    *host = colon < 0 ? text : text.left(colon);
    bool portOk = colon < 0;
    const uint portValue = colon < 0 ? DefaultMasterPort : text.mid(colon + 1).toUInt(&portOk);
    if (!portOk || portValue == 0 || portValue > 65535 || host->isEmpty())
        return false;
    *port = quint16(portValue);
    return true;
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

SourceFetch::SourceFetch(QObject *parent)
    : QObject(parent),
      m_http(new HttpTransfer(this))
{
    m_timer.setSingleShot(true);
    connect(m_http, &HttpTransfer::finished, this, &SourceFetch::httpFinished);
}

SourceFetch::~SourceFetch() { cancel(); }

void SourceFetch::cancel()
{
    ++m_generation;
    m_running = false;
    m_timer.stop();
    disconnect(&m_timer, nullptr, this, nullptr);
    m_http->abort();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    closeSocket();
}

void SourceFetch::closeSocket()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->close();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

void SourceFetch::finish(FetchResult result)
{
    if (!m_running)
        return;
    cancel();
    emit finished(result);
}

void SourceFetch::finishLater(FetchResult result)
{
    const int generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, result] {
        if (generation == m_generation)
            finish(result);
    });
}

void SourceFetch::start(const SourceEntry &entry, const UdpTimings &timings)
{
    cancel();
    m_entry = entry;
    m_timings = timings;
    m_running = true;
    switch (entry.kind) {
    case SourceKind::Page: {
        QString error;
        const QUrl url = ServerList::pageUrl(entry.address.trimmed(), &error);
        if (url.isEmpty()) {
            finishLater(failure(error));
            return;
        }
        startHttp(url, HttpTransfer::DefaultMaxBytes);
        return;
    }
    case SourceKind::TextList:
    case SourceKind::BinaryList: startHttp(QUrl(entry.address.trimmed()), MaxListBodyBytes); return;
    case SourceKind::Master: startMaster(); return;
    case SourceKind::Lan: startLan(); return;
    case SourceKind::Favourites: finishLater(favourites(entry)); return;
    }
    finishLater(failure(QStringLiteral("Unknown source")));
}

void SourceFetch::startHttp(const QUrl &url, qint64 maxBytes)
{
    m_http->setMaxBytes(maxBytes);
    const QString host = url.host();
    const auto fetch = [this, url](AddressScope scope) {
        m_listScope = scope;
        m_http->get(url);
    };
    if (const auto literal = parseAddressText(host + QStringLiteral(":1"))) {
        fetch(scopeOf(literal->ip));
        return;
    }
    if (host.isEmpty()) {
        // Refused by the transfer itself, with its own message.
        fetch(AddressScope::Public);
        return;
    }
    // The host's address decides which addresses its list may name.
    const int generation = m_generation;
    m_lookupId =
        QHostInfo::lookupHost(host, this, [this, generation, fetch](const QHostInfo &info) {
            if (generation != m_generation)
                return;
            m_lookupId = -1;
            m_timer.stop();
            disconnect(&m_timer, nullptr, this, nullptr);
            for (const QHostAddress &a : info.addresses()) {
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    fetch(scopeOf(a.toIPv4Address()));
                    return;
                }
            }
            finish(failure(QStringLiteral("Host %1 not found").arg(info.hostName())));
        });
    connect(&m_timer, &QTimer::timeout, this,
            [this, host] { finish(failure(QStringLiteral("Host %1 not found").arg(host))); });
    m_timer.start(m_timings.lookupWaitMs);
}

FetchResult SourceFetch::scoped(FetchResult result) const
{
    if (m_entry.kind == SourceKind::Lan || m_entry.kind == SourceKind::Favourites
        || m_listScope == AddressScope::Loopback)
        return result;
    QList<ListedServer> kept;
    kept.reserve(result.rows.size());
    for (ListedServer &row : result.rows) {
        if (row.target && !mayName(m_listScope, row.target->ip))
            ++result.skippedPrivate;
        else
            kept.append(std::move(row));
    }
    result.rows = std::move(kept);
    return result;
}

void SourceFetch::httpFinished(const HttpTransfer::Result &fetched)
{
    if (m_entry.kind == SourceKind::Page) {
        // The same bounded fetch as the page-only refresh: host checks, row bound and all.
        const ServerList::FetchedList list = ServerList::readPage(fetched);
        if (!list.ok) {
            finish(failure(list.error.isEmpty()
                               ? QStringLiteral("The server-list page holds no list.")
                               : list.error));
            return;
        }
        FetchResult r;
        r.ok = true;
        r.capped = list.cut;
        r.rows.reserve(list.rows.size());
        for (const QStringList &cells : list.rows)
            r.rows.append(pageRow(cells.value(0), cells.value(1), cells.value(2), cells.value(3)));
        finish(r);
        return;
    }
    if (!fetched.ok) {
        finish(failure(fetched.error));
        return;
    }
    finish(scoped(fromList(m_entry.kind == SourceKind::TextList ? parseTextList(fetched.body)
                                                                : parseBinaryList(fetched.body))));
}

void SourceFetch::startMaster()
{
    const QString text = m_entry.address.trimmed();
    if (!splitMaster(text, &m_masterHost, &m_masterPort)) {
        finishLater(failure(QStringLiteral("%1 is not a master address (host:port)").arg(text)));
        return;
    }
    m_masterTries = 0;
    if (const auto literal = parseAddressText(m_masterHost + QStringLiteral(":1"))) {
        const QHostAddress address(literal->ip);
        const int generation = m_generation;
        QTimer::singleShot(0, this, [this, generation, address] {
            if (generation == m_generation)
                lookedUp(address);
        });
        return;
    }
    const int generation = m_generation;
    m_lookupId =
        QHostInfo::lookupHost(m_masterHost, this, [this, generation](const QHostInfo &info) {
            if (generation != m_generation)
                return;
            m_lookupId = -1;
            for (const QHostAddress &a : info.addresses()) {
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    lookedUp(a);
                    return;
                }
            }
            finish(failure(QStringLiteral("Host %1 not found").arg(m_masterHost)));
        });
    connect(&m_timer, &QTimer::timeout, this,
            [this] { finish(failure(QStringLiteral("Host %1 not found").arg(m_masterHost))); });
    m_timer.start(m_timings.lookupWaitMs);
}

void SourceFetch::lookedUp(const QHostAddress &address)
{
    m_timer.stop();
    disconnect(&m_timer, nullptr, this, nullptr);
    m_master = address;
    m_listScope = scopeOf(address.toIPv4Address());
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress::AnyIPv4, 0)) {
        finish(failure(m_socket->errorString()));
        return;
    }
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(1 << 20));
    connect(m_socket, &QUdpSocket::readyRead, this, &SourceFetch::readMaster);
    // One query, and one more when the first answer is lost.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_masterTries < 2)
            sendMasterQuery();
        else
            finish(failure(
                QStringLiteral("No answer from %1:%2").arg(m_master.toString()).arg(m_masterPort)));
    });
    sendMasterQuery();
}

void SourceFetch::sendMasterQuery()
{
    ++m_masterTries;
    if (m_socket->writeDatagram(masterQuery(), m_master, m_masterPort) < 0) {
        finish(failure(m_socket->errorString()));
        return;
    }
    m_timer.start(m_timings.masterWaitMs);
}

void SourceFetch::readMaster()
{
    for (int guard = 0; guard < 256 && m_socket && m_socket->hasPendingDatagrams(); ++guard) {
        const QNetworkDatagram d = m_socket->receiveDatagram(65536);
        if (const std::optional<ListResult> list = parseMasterReply(
                d.data(), d.senderAddress(), quint16(d.senderPort()), m_master, m_masterPort)) {
            finish(scoped(fromList(*list)));
            return;
        }
    }
}

void SourceFetch::startLan()
{
    const QString text = m_entry.address.trimmed();
    QHostAddress broadcast = QHostAddress::Broadcast;
    if (!text.isEmpty()) {
        const auto parsed = parseAddressText(text + QStringLiteral(":1"));
        if (!parsed) {
            finishLater(failure(QStringLiteral("%1 is not an IPv4 address").arg(text)));
            return;
        }
        broadcast = QHostAddress(parsed->ip);
    }
    m_found.clear();
    m_seen.clear();
    m_refused = 0;
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress::AnyIPv4, 0)) {
        finishLater(failure(m_socket->errorString()));
        return;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &SourceFetch::readLan);
    QString sendError;
    for (quint16 port = LanFirstPort; port <= LanLastPort; ++port) {
        if (m_socket->writeDatagram(status::statusQuery(), broadcast, port) < 0)
            sendError = m_socket->errorString();
    }
    if (!sendError.isEmpty()) {
        finishLater(failure(sendError));
        return;
    }
    // Answers are gathered until the time is up.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        ListResult list;
        list.addresses = m_found;
        list.refused = m_refused;
        finish(fromList(list));
    });
    m_timer.start(m_timings.lanWaitMs);
}

void SourceFetch::readLan()
{
    for (int guard = 0; guard < 1024 && m_socket && m_socket->hasPendingDatagrams(); ++guard) {
        const QNetworkDatagram d = m_socket->receiveDatagram(65536);
        bool v4 = false;
        const ServerAddress from{d.senderAddress().toIPv4Address(&v4), quint16(d.senderPort())};
        if (!v4 || !status::parseStatusReply(d.data()))
            continue;
        if (checkAddress(from) != AddressCheck::Usable) {
            ++m_refused;
            continue;
        }
        if (!m_seen.contains(from.key()) && m_found.size() < MaxListEntries) {
            m_seen.insert(from.key());
            m_found.append(from);
        }
    }
}

} // namespace tarvex::sources
