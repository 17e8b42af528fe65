#pragma once

// The Ping control: a fixed 510 x 510 twip button face with the interface _Ping behind it.
// Hosts bind late, by name (Qt properties and invokable methods) or by dispatch identifier
// (Invoke); they never link this class.

#include "Identifiers.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <map>
#include <memory>

class QEventLoop;
class QPushButton;

namespace pingocx {

class LookupSink;
struct LookupResult;
struct EchoRunReport;

class Ping final : public QWidget
{
    Q_OBJECT
    Q_CLASSINFO("ClassID", PINGOCX_CLSID_TEXT)
    Q_CLASSINFO("InterfaceID", PINGOCX_IID_TEXT)
    Q_CLASSINFO("EventsID", PINGOCX_SRCIID_TEXT)
    Q_CLASSINFO("TypeLibID", PINGOCX_TYPELIB_TEXT)
    Q_CLASSINFO("ProgID", "PingOCX.Ping")
    Q_CLASSINFO("Description", "ICMP Ping ActiveX Control")
    Q_CLASSINFO("Version", PINGOCX_FILE_VERSION)

    // _Ping: the members of the interface (dispatch identifiers in Identifiers.h).
    Q_PROPERTY(qint16 Sock READ Sock WRITE setSock)
    Q_PROPERTY(qint32 Handle READ Handle WRITE setHandle)
    Q_PROPERTY(QString IPAddress READ IPAddress WRITE setIPAddress)
    Q_PROPERTY(QString HostName READ HostName WRITE setHostName)
    Q_PROPERTY(qint32 TimeOut READ TimeOut WRITE setTimeOut)
    Q_PROPERTY(QString Alias READ Alias WRITE setAlias)
    Q_PROPERTY(bool ResolveNames READ ResolveNames WRITE setResolveNames)

    // Not part of _Ping: diagnostics and test seams.
    // IcmpMeans: "" tries a ping socket, a raw socket, then the helper; "datagram", "raw" or
    // "helper" uses that one only. LastMeans: the means of the last echo ("" when none).
    Q_PROPERTY(QString IcmpMeans READ IcmpMeans WRITE setIcmpMeans)
    Q_PROPERTY(QString LastMeans READ LastMeans)
    Q_PROPERTY(bool LookupDone READ LookupDone)
    // The longest wait of Send for a name lookup, in ms (30000).
    Q_PROPERTY(qint32 LookupTimeLimit READ LookupTimeLimit WRITE setLookupTimeLimit)
    // Time between two echo requests of one StartEchoes run, in ms (10; below 0 counts as
    // 0). The helper program never sends more than one every 2 ms.
    Q_PROPERTY(qint32 EchoInterval READ EchoInterval WRITE setEchoInterval)

public:
    explicit Ping(QWidget *parent = nullptr);
    ~Ping() override;

    qint16 Sock() const { return m_sock; }
    void setSock(qint16 value) { m_sock = value; }
    qint32 Handle() const { return m_handle; }
    void setHandle(qint32 value) { m_handle = value; }
    QString IPAddress() const { return m_ipAddress; }
    void setIPAddress(const QString &value);
    QString HostName() const { return m_hostName; }
    void setHostName(const QString &value);
    qint32 TimeOut() const { return m_timeOut; }
    void setTimeOut(qint32 value);
    QString Alias() const { return m_alias; }
    void setAlias(const QString &value) { m_alias = value; }
    bool ResolveNames() const { return m_resolveNames; }
    void setResolveNames(bool value);

    QString IcmpMeans() const { return m_icmpMeans; }
    void setIcmpMeans(const QString &value) { m_icmpMeans = value; }
    QString LastMeans() const { return m_lastMeans; }
    bool LookupDone() const { return m_lookupDone; }
    qint32 LookupTimeLimit() const { return m_lookupTimeLimit; }
    void setLookupTimeLimit(qint32 value) { m_lookupTimeLimit = value; }
    qint32 EchoInterval() const { return m_echoInterval; }
    void setEchoInterval(qint32 value) { m_echoInterval = value; }

    // One echo request to HostName: the round-trip time in ms (int), a status text
    // (QString), or nothing (an invalid QVariant) after the "Socket Error" message.
    Q_INVOKABLE QVariant Send();
    // Starts the lookup of HostName; its completion sets IPAddress, Alias and LookupDone.
    Q_INVOKABLE void LookUpIpFromHostName();
    // Starts a forward lookup of Host, or a reverse one when Host is an address text that
    // inet_addr accepts. The completion always comes back to this control (there is no
    // window to post to here, so hWnd and wMsg are kept only for the signature). Returns
    // the lookup's id, 0 when it could not be started.
    Q_INVOKABLE qint32 WSAAsyncGetHostByNameAlias(qint16 &hWnd, qint16 &wMsg, QString &Host);
    Q_INVOKABLE qint16 AsyncPortNumber() const { return m_portNumber; }

    // Not part of _Ping: one echo request to each host, all of them outstanding together,
    // without blocking. Each host is treated as Send treats HostName (the same lookups and
    // checks; with ResolveNames an address is not looked up, since no Alias is kept), with
    // TimeOut, IcmpMeans and EchoInterval as they are now; the lookups of many names run
    // side by side, a few at a time. Nothing of the control's _Ping state changes. Returns
    // the run's number (> 0). Every result comes as EchoResult, as it arrives, and then
    // EchoesFinished, all from the event loop (never before this call has returned).
    Q_INVOKABLE qint32 StartEchoes(const QStringList &hosts);
    // Ends a run (0: every run) at once: none of its signals come any more. False when no
    // such run was going on.
    Q_INVOKABLE bool CancelEchoes(qint32 run);

    // Call by dispatch identifier. flags: 1 method, 2 property get, 4 property put.
    // Returns {"hr": HRESULT (0 = S_OK), "value": the result, "error": text on failure}.
    Q_INVOKABLE QVariantMap Invoke(qint32 dispId, qint32 flags, const QVariantList &args);

    // Loads the persisted properties from a property bag (key -> value) straight into the
    // fields, in the order IPAddress, HostName, TimeOut (200 when absent), ResolveNames.
    // A value that cannot be converted stops loading there: false, and LastError() says why;
    // the fields loaded before it keep their new values.
    Q_INVOKABLE bool ReadProperties(const QVariantMap &bag);
    // The persisted properties as a bag: IPAddress, HostName and ResolveNames only when they
    // differ from their defaults ("", "", False), TimeOut always.
    Q_INVOKABLE QVariantMap WriteProperties() const;
    Q_INVOKABLE QString LastError() const { return m_lastError; }

signals:
    // The container's notice that a property changed: "IPAddress", "HostName", "TimeOut" or
    // "ResolveNames" (never "Alias"). Sent by the setters whether or not the value differs.
    void PropertyChanged(const QString &name);
    // A message for the user. When anything is connected to this signal the host shows it
    // (caption empty: the host's default caption) and the control shows nothing itself;
    // otherwise the control shows a modal QMessageBox.
    void MessageBoxRequested(const QString &text, const QString &caption);

    // A result of a StartEchoes run: index is the host's position in the list, result
    // what Send would answer for it (ms as int, a status text, or nothing after the
    // "Socket Error" message, which a run shows at most once).
    void EchoResult(qint32 run, qint32 index, const QVariant &result);
    // The last result of the run has come.
    void EchoesFinished(qint32 run);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void lookupCompleted(qint32 id, const LookupResult &result);
    // Waits for LookupDone while the host's events are dispatched. False when the control
    // was destroyed meanwhile (nothing of it may be touched then).
    bool waitForLookup();
    void showMessage(const QString &text);
    int twipsToPixels(int twips, bool horizontal) const;

    struct Batch;
    struct BatchLookup;
    void beginBatch(qint32 run);
    void echoAddress(qint32 run, Batch &batch, int index, const QString &ipAddress);
    void startBatchLookups();
    void batchLookupCompleted(qint32 id, const LookupResult &result);
    void batchLookupTimedOut(qint32 id);
    void batchReport(qint32 run, const EchoRunReport &report);
    // Emits one result; false when the run (or the control) is gone afterwards.
    bool emitResult(qint32 run, int index, const QVariant &result);

    QPushButton *m_command1 = nullptr;

    QString m_hostName;
    QString m_ipAddress;
    QString m_alias;
    qint32 m_timeOut = 0;
    bool m_resolveNames = false;
    qint16 m_sock = 0;
    qint32 m_handle = 0;
    bool m_lookupDone = false;
    qint16 m_portNumber = 0;

    QString m_icmpMeans;
    QString m_lastMeans;
    qint32 m_lookupTimeLimit = 30000;
    QString m_lastError;

    qint32 m_echoInterval = 10;
    qint32 m_lastRun = 0;
    std::map<qint32, std::unique_ptr<Batch>> m_batches;
    std::map<qint32, BatchLookup> m_batchLookups; // by lookup id
    int m_batchLookupsRunning = 0;
    std::shared_ptr<LookupSink> m_batchSink;

    std::shared_ptr<LookupSink> m_sink;
    std::shared_ptr<bool> m_alive;
    QList<QEventLoop *> m_waits;
};

} // namespace pingocx
