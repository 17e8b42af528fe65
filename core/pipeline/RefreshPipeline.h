#pragma once

#include "core/sources/Merge.h"
#include "core/sources/SourceFetch.h"
#include "core/status/StatusEngine.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace tarvex {

// One refresh of the server list, step by step and never waiting: the enabled sources
// are fetched at once, their lists merged, every listed server asked for its status,
// and then, when asked for, the list pinged. Each step reports by signals and the
// next starts when it has ended; cancel() ends the refresh at whatever step it is.
//
// When the only enabled source is the server-list page, the refresh is the page's
// own: its rows stand as the page gives them and nobody is asked for a status.
class RefreshPipeline final : public QObject
{
    Q_OBJECT

public:
    enum class Step { Idle, Sources, Status, Ping };
    Q_ENUM(Step)

    // How a refresh ended.
    enum class End {
        Done, // every step ran
        Cancelled, // cancel() ended it
        NoList, // every source failed: nothing was listed
    };
    Q_ENUM(End)

    // A source that gave nothing, and why.
    struct Failure
    {
        sources::SourceEntry entry;
        QString error;
    };

    // What the sources gave, once merged.
    struct Listing
    {
        QList<sources::ListedServer> rows;
        QList<Failure> failures;
        bool pageOnly = false;
        bool capped = false; // a list was cut at its bound
        int refused = 0; // entries that were no usable address
        int skippedPrivate = 0; // addresses more private than their list's host
        // Sources that answered with no usable address at all.
        QList<sources::SourceEntry> empty;
    };

    // The ping step: starts pinging the listed servers and calls pingFinished() when
    // done; returns false when there is nothing to ping with (the step is then over).
    using PingStarter = std::function<bool()>;
    using PingCanceller = std::function<void()>;

    explicit RefreshPipeline(QObject *parent = nullptr);
    ~RefreshPipeline() override;

    void setPingStep(PingStarter start, PingCanceller cancel);
    void setUdpTimings(const sources::UdpTimings &timings) { m_timings = timings; }
    // The deadline of each HTTP source's whole exchange.
    void setHttpTimeoutMs(int ms) { m_httpTimeoutMs = ms; }
    status::StatusEngine &statusEngine() { return *m_status; }

    // Starts a refresh of entries (a running one is cancelled first); ping says
    // whether the ping step follows.
    void start(const QList<sources::SourceEntry> &entries, bool ping);
    // Ends the running refresh at its present step: finished(Cancelled) follows at once.
    void cancel();
    // The ping step reports its end.
    void pingFinished();

    bool isRunning() const { return m_step != Step::Idle; }
    Step step() const { return m_step; }

signals:
    // A source's fetch started; pending lists the sources still under way.
    void fetching(const QList<tarvex::sources::SourceEntry> &pending);
    // The sources have ended and their lists are merged (not emitted for NoList).
    void listed(const tarvex::RefreshPipeline::Listing &listing);
    // Every source failed, or none is switched on: why, one line per source.
    void nothingListed(const QList<tarvex::RefreshPipeline::Failure> &failures);
    void asking(int done, int total);
    void answered(const tarvex::sources::ServerAddress &server,
                  const tarvex::status::ServerStatus &status, int roundTripMs);
    void unanswered(const tarvex::sources::ServerAddress &server, bool down);
    void pinging();
    void finished(tarvex::RefreshPipeline::End end);

private:
    void sourceFinished(int index, const sources::FetchResult &result);
    void sourcesDone();
    void startStatus();
    void startPing();
    void end(End how);
    void dropFetches();

    Step m_step = Step::Idle;
    bool m_ping = false;
    sources::UdpTimings m_timings;
    int m_httpTimeoutMs = HttpTransfer::DefaultTimeoutMs;
    std::vector<std::unique_ptr<sources::SourceFetch>> m_fetches;
    QList<sources::SourceEntry> m_entries; // the enabled ones, in order
    QList<std::optional<sources::FetchResult>> m_results;
    bool m_pageOnly = false;
    QList<sources::ServerAddress> m_targets; // the status engine's indexes
    status::StatusEngine *m_status;
    PingStarter m_startPing;
    PingCanceller m_cancelPing;
};

} // namespace tarvex
