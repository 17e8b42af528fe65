#include "core/pipeline/RefreshPipeline.h"

#include <QTimer>

namespace tarvex {

RefreshPipeline::RefreshPipeline(QObject *parent)
    : QObject(parent),
      m_status(new status::StatusEngine(this))
{
    connect(m_status, &status::StatusEngine::answered, this,
            [this](int index, const status::ServerStatus &s, int ms) {
                if (m_step == Step::Status && index >= 0 && index < m_targets.size())
                    emit answered(m_targets[index], s, ms);
            });
    connect(m_status, &status::StatusEngine::failed, this,
            [this](int index, status::StatusEngine::Outcome o) {
                if (m_step == Step::Status && index >= 0 && index < m_targets.size())
                    emit unanswered(m_targets[index], o == status::StatusEngine::Outcome::Down);
            });
    connect(m_status, &status::StatusEngine::progress, this, [this](int done, int total) {
        if (m_step == Step::Status)
            emit asking(done, total);
    });
    connect(m_status, &status::StatusEngine::finished, this, [this](bool cancelled) {
        if (m_step != Step::Status || cancelled)
            return;
        startPing();
    });
}

RefreshPipeline::~RefreshPipeline()
{
    // Nothing is reported from a pipeline that is going away, and its owner's ping step
    // is not called back: the owner may itself be half destroyed by now.
    blockSignals(true);
    m_startPing = nullptr;
    m_cancelPing = nullptr;
    cancel();
}

void RefreshPipeline::setPingStep(PingStarter start, PingCanceller cancel)
{
    m_startPing = std::move(start);
    m_cancelPing = std::move(cancel);
}

void RefreshPipeline::start(const QList<sources::SourceEntry> &entries, bool ping)
{
    cancel();
    m_ping = ping;
    m_entries.clear();
    for (const sources::SourceEntry &e : entries) {
        if (e.enabled)
            m_entries.append(e);
    }
    m_pageOnly = sources::pageOnly(entries);
    m_results = QList<std::optional<sources::FetchResult>>(m_entries.size());
    dropFetches();
    m_step = Step::Sources;
    if (m_entries.isEmpty()) {
        // Reported from the event loop, as every other end is.
        QTimer::singleShot(0, this, [this] {
            if (m_step == Step::Sources && m_entries.isEmpty())
                sourcesDone();
        });
        return;
    }
    for (int i = 0; i < m_entries.size(); ++i) {
        // Owned by the pipeline too, so that a fetch dropped late goes with it.
        auto fetch = std::make_unique<sources::SourceFetch>(this);
        fetch->http().setTimeoutMs(m_httpTimeoutMs);
        connect(fetch.get(), &sources::SourceFetch::finished, this,
                [this, i](const sources::FetchResult &r) { sourceFinished(i, r); });
        m_fetches.push_back(std::move(fetch));
    }
    for (int i = 0; i < m_entries.size(); ++i)
        m_fetches[size_t(i)]->start(m_entries[i], m_timings);
    emit fetching(m_entries);
}

void RefreshPipeline::sourceFinished(int index, const sources::FetchResult &result)
{
    if (m_step != Step::Sources)
        return;
    m_results[index] = result;
    QList<sources::SourceEntry> pending;
    for (int i = 0; i < m_entries.size(); ++i) {
        if (!m_results[i])
            pending.append(m_entries[i]);
    }
    if (!pending.isEmpty()) {
        emit fetching(pending);
        return;
    }
    sourcesDone();
}

void RefreshPipeline::sourcesDone()
{
    Listing listing;
    listing.pageOnly = m_pageOnly;
    QList<QList<sources::ListedServer>> lists;
    for (int i = 0; i < m_entries.size(); ++i) {
        const sources::FetchResult &r = *m_results[i];
        if (!r.ok) {
            listing.failures.append({m_entries[i], r.error});
            continue;
        }
        lists.append(r.rows);
        listing.capped = listing.capped || r.capped;
        listing.refused += r.refused;
        listing.skippedPrivate += r.skippedPrivate;
        if (r.rows.isEmpty())
            listing.empty.append(m_entries[i]);
    }
    dropFetches();
    if (lists.isEmpty()) {
        const QList<Failure> failures = listing.failures;
        end(End::NoList);
        emit nothingListed(failures);
        return;
    }
    listing.rows = sources::mergeSources(lists);
    m_targets.clear();
    if (!m_pageOnly) {
        for (const sources::ListedServer &row : listing.rows) {
            if (row.target)
                m_targets.append(*row.target);
        }
    }
    emit listed(listing);
    // A handler may have cancelled or restarted the refresh.
    if (m_step != Step::Sources)
        return;
    startStatus();
}

void RefreshPipeline::startStatus()
{
    if (m_targets.isEmpty()) {
        startPing();
        return;
    }
    m_step = Step::Status;
    QString error;
    if (!m_status->start(m_targets, &error)) {
        // Without a socket nobody is asked; the list stands and the refresh goes on.
        for (const sources::ServerAddress &a : std::as_const(m_targets))
            emit unanswered(a, false);
        startPing();
    }
}

void RefreshPipeline::startPing()
{
    if (!m_ping || !m_startPing) {
        end(End::Done);
        return;
    }
    m_step = Step::Ping;
    emit pinging();
    if (m_step != Step::Ping)
        return;
    if (!m_startPing())
        end(End::Done);
}

void RefreshPipeline::pingFinished()
{
    if (m_step == Step::Ping)
        end(End::Done);
}

void RefreshPipeline::cancel()
{
    switch (m_step) {
    case Step::Idle: return;
    case Step::Sources:
        for (auto &f : m_fetches)
            f->cancel();
        break;
    case Step::Status: m_status->cancel(); break;
    case Step::Ping:
        if (m_cancelPing)
            m_cancelPing();
        break;
    }
    end(End::Cancelled);
}

void RefreshPipeline::end(End how)
{
    m_step = Step::Idle;
    dropFetches();
    emit finished(how);
}

void RefreshPipeline::dropFetches()
{
    // Deleted from the event loop: this may run inside one of their own signals.
    for (auto &f : m_fetches) {
        f->cancel();
        f.release()->deleteLater();
    }
    m_fetches.clear();
}

} // namespace tarvex
