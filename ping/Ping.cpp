#include "Ping.h"

#include "Address.h"
#include "Conversions.h"
#include "EchoMeans.h"
#include "EchoRun.h"
#include "Resolver.h"
#include "ServerState.h"
#include "icmp/IpStatus.h"

#include "hosting/ControlServer.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <deque>
#include <limits>

namespace pingocx {

namespace {

constexpr int kFaceTwips = 510;
constexpr qint16 kLookupMessage = 514; // the completion message of the lookup on Windows
const QString kSocketError = QStringLiteral("Socket Error");

// The button's 32 x 32 picture: a small echo sounder.
QPixmap facePicture()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 110, 0), 2));
    for (int r : {6, 11, 15})
        p.drawArc(QRectF(16 - r, 16 - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
    p.setBrush(QColor(0, 150, 0));
    p.drawEllipse(QPointF(16, 16), 3, 3);
    return pixmap;
}

QVariantMap invokeResult(qint32 hr, const QVariant &value = QVariant(), const QString &error = {})
{
    return QVariantMap{{QStringLiteral("hr"), hr},
                       {QStringLiteral("value"), value},
                       {QStringLiteral("error"), error}};
}

QVariantMap conversionFailure(ConversionError why, const char *member)
{
    const bool overflow = why == ConversionError::Overflow;
    return invokeResult(overflow ? tarvex::hosting::DISP_E_OVERFLOW
                                 : tarvex::hosting::DISP_E_TYPEMISMATCH,
                        QVariant(),
                        QStringLiteral("%1: %2").arg(QLatin1String(member),
                                                     overflow ? QStringLiteral("Overflow")
                                                              : QStringLiteral("Type mismatch")));
}

// At most this many name lookups of StartEchoes runs are under way at once, per control.
constexpr int kMaxBatchLookups = 8;

} // namespace

struct Ping::Batch
{
    QStringList hosts;
    quint32 timeoutMs = 0;
    bool resolveNames = false;
    Means means = Means::Auto;
    quint32 intervalMs = 10;
    int remaining = 0;
    std::deque<int> toLookUp; // indexes waiting for a lookup slot
    std::unique_ptr<EchoRun> engine;
    bool noMeansShown = false;
};

struct Ping::BatchLookup
{
    qint32 run = 0;
    int index = 0;
    bool settled = false; // its time limit passed: the row has its answer already
};

Ping::Ping(QWidget *parent)
    : QWidget(parent),
      m_alive(std::make_shared<bool>(true))
{
    server::instanceCreated();
    const QSize face(twipsToPixels(kFaceTwips, true), twipsToPixels(kFaceTwips, false));
    setFixedSize(face);
    m_command1 = new QPushButton(this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(QRect(QPoint(0, 0), face));
    m_command1->setIcon(QIcon(facePicture()));
    m_command1->setIconSize(QSize(32, 32));
    // A click on the face is only a click: a lookup completes through the resolver alone.

    m_sink = std::make_shared<LookupSink>(
        this, [this](qint32 id, const LookupResult &r) { lookupCompleted(id, r); });
    m_batchSink = std::make_shared<LookupSink>(
        this, [this](qint32 id, const LookupResult &r) { batchLookupCompleted(id, r); });
}

Ping::~Ping()
{
    // Every run stops before anything of the control goes: no report can arrive after.
    m_batches.clear();
    m_batchSink->detach();
    m_sink->detach();
    *m_alive = false;
    for (QEventLoop *loop : std::as_const(m_waits))
        loop->quit();
    server::instanceDestroyed();
}

int Ping::twipsToPixels(int twips, bool horizontal) const
{
    const int dpi = horizontal ? logicalDpiX() : logicalDpiY();
    return qRound(twips * (dpi > 0 ? dpi : 96) / 1440.0);
}

void Ping::resizeEvent(QResizeEvent *event)
{
    // Whatever the container asks, the control stays a 510-twip square.
    const QSize face(twipsToPixels(kFaceTwips, true), twipsToPixels(kFaceTwips, false));
    if (event->size() != face)
        resize(face);
    QWidget::resizeEvent(event);
}

void Ping::setIPAddress(const QString &value)
{
    m_ipAddress = value;
    emit PropertyChanged(QStringLiteral("IPAddress"));
}

void Ping::setHostName(const QString &value)
{
    m_hostName = value;
    emit PropertyChanged(QStringLiteral("HostName"));
}

void Ping::setTimeOut(qint32 value)
{
    m_timeOut = value;
    emit PropertyChanged(QStringLiteral("TimeOut"));
}

void Ping::setResolveNames(bool value)
{
    m_resolveNames = value;
    emit PropertyChanged(QStringLiteral("ResolveNames"));
}

QVariant Ping::Send()
{
    setIPAddress(QString());
    setAlias(QString());
    m_lookupDone = false;

    if (!startsLikeDottedAddress(m_hostName)) {
        LookUpIpFromHostName();
        if (!waitForLookup())
            return QVariant();
    } else if (m_resolveNames) {
        LookUpIpFromHostName();
        if (!waitForLookup())
            return QVariant();
        setIPAddress(m_hostName);
    } else {
        setIPAddress(m_hostName);
    }

    const qint32 address = DottedIpToAddress(m_ipAddress);
    if (address == 0)
        return QStringLiteral("Bad IP Address");

    Means means = Means::Auto;
    if (!meansFromName(m_icmpMeans.toStdString(), &means))
        means = Means::Auto;
    // The time-out is unsigned below; a negative one would turn into an endless wait, so
    // it waits not at all instead.
    const quint32 timeout = m_timeOut < 0 ? 0u : quint32(m_timeOut);
    const EchoAttempt attempt = echoByAnyMeans(addressValueToNetwork(address), timeout, means);
    m_lastMeans = QString::fromStdString(attempt.meansUsed);
    if (!attempt.haveMeans) {
        showMessage(kSocketError + QLatin1Char('\n') + QString::fromStdString(attempt.whyNoMeans));
        return QVariant();
    }
    if (attempt.outcome.replied)
        return qint32(attempt.outcome.rttMs);
    return QString::fromStdString(icmp::resultTextForStatus(attempt.outcome.status));
}

bool Ping::waitForLookup()
{
    if (m_lookupDone)
        return true;
    if (m_handle == 0) // the lookup could not start: no completion will come
        return true;
    const std::shared_ptr<bool> alive = m_alive;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait 5 % early
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(qMax(0, m_lookupTimeLimit));
    m_waits.append(&loop);
    // A completion quits every wait in progress: the first one ends nested waits too.
    while (*alive && !m_lookupDone && limit.isActive())
        loop.exec();
    if (!*alive)
        return false;
    m_waits.removeOne(&loop);
    return true;
}

void Ping::LookUpIpFromHostName()
{
    qint16 window = 0;
    qint16 message = kLookupMessage;
    QString host = m_hostName;
    m_handle = WSAAsyncGetHostByNameAlias(window, message, host);
}

qint32 Ping::WSAAsyncGetHostByNameAlias(qint16 &hWnd, qint16 &wMsg, QString &Host)
{
    Q_UNUSED(hWnd)
    Q_UNUSED(wMsg)
    quint32 address = 0;
    const qint32 id = classicInetAddr(Host, &address) ? startReverseLookup(m_sink, address)
                                                      : startForwardLookup(m_sink, Host.toLatin1());
    return id;
}

void Ping::lookupCompleted(qint32 id, const LookupResult &result)
{
    Q_UNUSED(id)
    if (result.ok) {
        setIPAddress(dottedText(result.address));
        // The official name as the Windows host entry holds it: at most 255 characters.
        setAlias(QString::fromLatin1(result.officialName.left(255)));
    }
    m_lookupDone = true;
    for (QEventLoop *loop : std::as_const(m_waits))
        loop->quit();
}

qint32 Ping::StartEchoes(const QStringList &hosts)
{
    auto batch = std::make_unique<Batch>();
    batch->hosts = hosts;
    batch->timeoutMs = m_timeOut < 0 ? 0u : quint32(m_timeOut);
    batch->resolveNames = m_resolveNames;
    if (!meansFromName(m_icmpMeans.toStdString(), &batch->means))
        batch->means = Means::Auto;
    batch->intervalMs = m_echoInterval < 0 ? 0u : quint32(m_echoInterval);
    batch->remaining = int(hosts.size());
    m_lastRun = m_lastRun == std::numeric_limits<qint32>::max() ? 1 : m_lastRun + 1;
    const qint32 run = m_lastRun;
    m_batches[run] = std::move(batch);
    QMetaObject::invokeMethod(
        this, [this, run] { beginBatch(run); }, Qt::QueuedConnection);
    return run;
}

bool Ping::CancelEchoes(qint32 run)
{
    if (run == 0) {
        const bool any = !m_batches.empty();
        m_batches.clear();
        return any;
    }
    return m_batches.erase(run) > 0;
}

void Ping::beginBatch(qint32 run)
{
    const auto found = m_batches.find(run);
    if (found == m_batches.end())
        return;
    Batch &batch = *found->second;
    if (batch.hosts.isEmpty()) {
        m_batches.erase(found);
        emit EchoesFinished(run);
        return;
    }
    // The same classification as Send: a dotted address is pinged as it stands, anything
    // else is looked up first.
    QList<int> direct;
    for (int i = 0; i < batch.hosts.size(); ++i) {
        if (startsLikeDottedAddress(batch.hosts.at(i)))
            direct << i;
        else
            batch.toLookUp.push_back(i);
    }
    startBatchLookups();
    const QStringList hosts = batch.hosts;
    for (int i : std::as_const(direct)) {
        const auto again = m_batches.find(run);
        if (again == m_batches.end())
            return; // cancelled (or the control destroyed) by a handler of a result
        echoAddress(run, *again->second, i, hosts.at(i));
        if (DottedIpToAddress(hosts.at(i)) == 0
            && !emitResult(run, i, QStringLiteral("Bad IP Address")))
            return;
    }
}

// Starts the echo to the address that Send would ping for this row; an address that is no
// address is left to the caller (it answers "Bad IP Address").
void Ping::echoAddress(qint32 run, Batch &batch, int index, const QString &ipAddress)
{
    const qint32 address = DottedIpToAddress(ipAddress);
    if (address == 0)
        return;
    if (!batch.engine) {
        // Called on the run's own thread, never after the run is destroyed (which the
        // control does before it goes): the report is handed to the control's thread.
        batch.engine = std::make_unique<EchoRun>(
            batch.means, batch.intervalMs, [this, run](EchoRunReport report) {
                QMetaObject::invokeMethod(
                    this, [this, run, report] { batchReport(run, report); }, Qt::QueuedConnection);
            });
    }
    batch.engine->add(uint64_t(index), addressValueToNetwork(address), batch.timeoutMs);
}

void Ping::startBatchLookups()
{
    for (auto &entry : m_batches) {
        Batch &batch = *entry.second;
        while (!batch.toLookUp.empty() && m_batchLookupsRunning < kMaxBatchLookups) {
            const int index = batch.toLookUp.front();
            batch.toLookUp.pop_front();
            const QString host = batch.hosts.at(index);
            quint32 address = 0;
            const qint32 id = classicInetAddr(host, &address)
                ? startReverseLookup(m_batchSink, address)
                : startForwardLookup(m_batchSink, host.toLatin1());
            if (id == 0) {
                // Could not start: no completion will come, as with Send.
                const qint32 run = entry.first;
                QMetaObject::invokeMethod(
                    this,
                    [this, run, index] {
                        emitResult(run, index, QStringLiteral("Bad IP Address"));
                    },
                    Qt::QueuedConnection);
                continue;
            }
            ++m_batchLookupsRunning;
            m_batchLookups[id] = BatchLookup{entry.first, index, false};
            QTimer::singleShot(qMax(0, m_lookupTimeLimit), this,
                               [this, id] { batchLookupTimedOut(id); });
        }
    }
}

void Ping::batchLookupTimedOut(qint32 id)
{
    const auto it = m_batchLookups.find(id);
    if (it == m_batchLookups.end() || it->second.settled)
        return;
    it->second.settled = true; // it keeps its slot until its thread is done
    emitResult(it->second.run, it->second.index, QStringLiteral("Bad IP Address"));
}

void Ping::batchLookupCompleted(qint32 id, const LookupResult &result)
{
    const auto it = m_batchLookups.find(id);
    if (it == m_batchLookups.end())
        return;
    const BatchLookup lookup = it->second;
    m_batchLookups.erase(it);
    --m_batchLookupsRunning;
    startBatchLookups();
    if (lookup.settled)
        return;
    const auto batch = m_batches.find(lookup.run);
    if (batch == m_batches.end())
        return;
    const QString ipAddress = result.ok ? dottedText(result.address) : QString();
    echoAddress(lookup.run, *batch->second, lookup.index, ipAddress);
    if (DottedIpToAddress(ipAddress) == 0)
        emitResult(lookup.run, lookup.index, QStringLiteral("Bad IP Address"));
}

void Ping::batchReport(qint32 run, const EchoRunReport &report)
{
    const std::shared_ptr<bool> alive = m_alive;
    for (const EchoRunReport::Settled &s : report.settled) {
        const auto batch = m_batches.find(run);
        if (batch == m_batches.end())
            return;
        if (!report.meansUsed.empty())
            m_lastMeans = QString::fromStdString(report.meansUsed);
        QVariant result;
        if (!s.haveMeans) {
            if (!batch->second->noMeansShown) {
                batch->second->noMeansShown = true;
                showMessage(kSocketError + QLatin1Char('\n')
                            + QString::fromStdString(report.whyNoMeans));
                if (!*alive)
                    return;
            }
        } else if (s.outcome.replied) {
            result = qint32(s.outcome.rttMs);
        } else {
            result = QString::fromStdString(icmp::resultTextForStatus(s.outcome.status));
        }
        if (!emitResult(run, int(s.token), result))
            return;
    }
}

bool Ping::emitResult(qint32 run, int index, const QVariant &result)
{
    const auto batch = m_batches.find(run);
    if (batch == m_batches.end())
        return false;
    const bool last = --batch->second->remaining <= 0;
    if (last)
        m_batches.erase(batch); // its run ends here; nothing of it is used after
    const std::shared_ptr<bool> alive = m_alive;
    emit EchoResult(run, index, result);
    if (!*alive)
        return false;
    if (last) {
        emit EchoesFinished(run);
        return false;
    }
    return *alive && m_batches.count(run) > 0;
}

void Ping::showMessage(const QString &text)
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Ping::MessageBoxRequested);
    if (isSignalConnected(signal)) {
        emit MessageBoxRequested(text, QString());
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, window());
    box.exec();
}

QVariantMap Ping::Invoke(qint32 dispId, qint32 flags, const QVariantList &args)
{
    using namespace tarvex::hosting;
    const bool get = flags & DISPATCH_PROPERTYGET;
    const bool put = flags & DISPATCH_PROPERTYPUT;
    const bool call = flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    ConversionError why = ConversionError::None;

    auto property = [&](const char *name, auto read, auto convert, auto write) -> QVariantMap {
        if (put) {
            if (args.size() != 1)
                return invokeResult(DISP_E_BADPARAMCOUNT);
            const auto value = convert(args.at(0), &why);
            if (!value)
                return conversionFailure(why, name);
            write(*value);
            return invokeResult(S_OK);
        }
        if (get) {
            if (!args.isEmpty())
                return invokeResult(DISP_E_BADPARAMCOUNT);
            return invokeResult(S_OK, QVariant::fromValue(read()));
        }
        return invokeResult(DISP_E_MEMBERNOTFOUND);
    };
    auto method = [&](int argc, auto body) -> QVariantMap {
        if (!call || put)
            return invokeResult(DISP_E_MEMBERNOTFOUND);
        if (args.size() != argc)
            return invokeResult(DISP_E_BADPARAMCOUNT);
        return body();
    };

    switch (dispId) {
    case dispid::Sock:
        return property(
            "Sock", [&] { return Sock(); }, toInteger, [&](qint16 v) { setSock(v); });
    case dispid::Handle:
        return property(
            "Handle", [&] { return Handle(); }, toLong, [&](qint32 v) { setHandle(v); });
    case dispid::IPAddress:
        return property(
            "IPAddress", [&] { return IPAddress(); }, toText,
            [&](const QString &v) { setIPAddress(v); });
    case dispid::HostName:
        return property(
            "HostName", [&] { return HostName(); }, toText,
            [&](const QString &v) { setHostName(v); });
    case dispid::TimeOut:
        return property(
            "TimeOut", [&] { return TimeOut(); }, toLong, [&](qint32 v) { setTimeOut(v); });
    case dispid::Alias:
        return property(
            "Alias", [&] { return Alias(); }, toText, [&](const QString &v) { setAlias(v); });
    case dispid::ResolveNames:
        return property(
            "ResolveNames", [&] { return ResolveNames(); }, toBoolean,
            [&](bool v) { setResolveNames(v); });
    case dispid::Send: return method(0, [&] { return invokeResult(S_OK, Send()); });
    case dispid::AsyncPortNumber:
        return method(0,
                      [&] { return invokeResult(S_OK, QVariant::fromValue(AsyncPortNumber())); });
    case dispid::LookUpIpFromHostName:
        return method(0, [&] {
            LookUpIpFromHostName();
            return invokeResult(S_OK);
        });
    case dispid::WSAAsyncGetHostByNameAlias:
        return method(3, [&] {
            auto window = toInteger(args.at(0), &why);
            if (!window)
                return conversionFailure(why, "hWnd");
            auto message = toInteger(args.at(1), &why);
            if (!message)
                return conversionFailure(why, "wMsg");
            auto host = toText(args.at(2), &why);
            if (!host)
                return conversionFailure(why, "Host");
            return invokeResult(S_OK, WSAAsyncGetHostByNameAlias(*window, *message, *host));
        });
    default:
        return invokeResult(DISP_E_MEMBERNOTFOUND, QVariant(),
                            QStringLiteral("No member with dispatch identifier 0x%1")
                                .arg(quint32(dispId), 8, 16, QLatin1Char('0')));
    }
}

bool Ping::ReadProperties(const QVariantMap &bag)
{
    m_lastError.clear();
    ConversionError why = ConversionError::None;
    auto failed = [&](const char *key) {
        m_lastError =
            QStringLiteral("%1 \"%2\"")
                .arg(why == ConversionError::Overflow ? QStringLiteral("Overflow reading")
                                                      : QStringLiteral("Type mismatch reading"),
                     QLatin1String(key));
        return false;
    };
    auto entry = [&](const char *key, const QVariant &fallback) {
        const auto it = bag.constFind(QLatin1String(key));
        return it == bag.constEnd() ? fallback : it.value();
    };

    const auto ip = toText(entry("IPAddress", QString()), &why);
    if (!ip)
        return failed("IPAddress");
    m_ipAddress = *ip;
    const auto host = toText(entry("HostName", QString()), &why);
    if (!host)
        return failed("HostName");
    m_hostName = *host;
    const auto timeout = toLong(entry("TimeOut", 200), &why);
    if (!timeout)
        return failed("TimeOut");
    m_timeOut = *timeout;
    const auto resolve = toBoolean(entry("ResolveNames", false), &why);
    if (!resolve)
        return failed("ResolveNames");
    m_resolveNames = *resolve;
    return true;
}

QVariantMap Ping::WriteProperties() const
{
    QVariantMap bag;
    if (!m_ipAddress.isEmpty())
        bag.insert(QStringLiteral("IPAddress"), m_ipAddress);
    if (!m_hostName.isEmpty())
        bag.insert(QStringLiteral("HostName"), m_hostName);
    bag.insert(QStringLiteral("TimeOut"), m_timeOut); // its default "" never equals a number
    if (m_resolveNames)
        bag.insert(QStringLiteral("ResolveNames"), true);
    return bag;
}

} // namespace pingocx
