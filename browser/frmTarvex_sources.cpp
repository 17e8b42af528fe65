// The main window's refresh from several list sources, and the status refresh that
// fills names, players and maps by asking every listed server itself.
#include "browser/frmTarvex.h"

#include "core/net/HttpTransfer.h"
#include "core/browser/ServerListParser.h"
#include "browser/frmSources.h"
#include "core/sources/Merge.h"
#include "core/pipeline/RefreshPipeline.h"
#include "core/browser/ServerListFetch.h"
#include "core/status/StatusEngine.h"
#include "core/model/ServerModel.h"
#include "ui/ServerView.h"
#include "ui/Dialogs.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace tarvex {

const QString frmTarvex::NoAnswerMark = QStringLiteral("(no answer)");
const QString frmTarvex::DownMark = QStringLiteral("(down)");

namespace {
constexpr qint64 ProgressEveryMs = 100;
}

bool frmTarvex::statusRefreshRunning() const
{
    return m_refresh->step() == RefreshPipeline::Step::Status;
}

bool frmTarvex::refreshRunning() const { return m_refresh->isRunning(); }

status::StatusEngine *frmTarvex::statusEngine() const { return &m_refresh->statusEngine(); }

void frmTarvex::cancelStatusRefresh()
{
    if (statusRefreshRunning())
        m_refresh->cancel();
}

void frmTarvex::setUpRefresh()
{
    m_refresh = new RefreshPipeline(this);
    m_refresh->setPingStep(
        [this] {
            Ping();
            return m_listPing != 0;
        },
        [this] { cancelPings(); });
    connect(m_refresh, &RefreshPipeline::fetching, this,
            [this](const QList<sources::SourceEntry> &pending) {
                if (m_pageOnlyRefresh || pending.isEmpty())
                    return;
                setStatus(QStringLiteral("Getting Server List... (%1)")
                              .arg(sources::kindName(pending.first().kind)));
            });
    connect(m_refresh, &RefreshPipeline::listed, this, &frmTarvex::refreshListed);
    connect(m_refresh, &RefreshPipeline::nothingListed, this, &frmTarvex::refreshFailed);
    connect(m_refresh, &RefreshPipeline::answered, this, &frmTarvex::statusAnswered);
    connect(m_refresh, &RefreshPipeline::unanswered, this, &frmTarvex::statusFailed);
    connect(m_refresh, &RefreshPipeline::asking, this, [this](int done, int total) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (done < total && now - m_lastProgressMs < ProgressEveryMs)
            return;
        m_lastProgressMs = now;
        setStatus(QStringLiteral("Asking servers: %1 of %2 done (Esc stops)").arg(done).arg(total));
    });
    // Once the servers are asked, the status line says how the refresh went, before
    // the ping step writes its own texts.
    connect(m_refresh, &RefreshPipeline::pinging, this, [this] {
        if (m_askedServers)
            setStatus(m_refreshedText);
        m_askedServers = false;
    });
    connect(m_refresh, &RefreshPipeline::finished, this, [this](RefreshPipeline::End end) {
        // The servers go back in the order the user chose, once their answers are in.
        if (!m_closing)
            Grid1->sortAgain();
        if (end == RefreshPipeline::End::Cancelled && m_askedServers && !m_closing)
            setStatus(QStringLiteral("Server status refresh stopped."));
        else if (end == RefreshPipeline::End::Done && m_askedServers)
            setStatus(m_refreshedText);
        m_askedServers = false;
        emit refreshFinished();
    });
    connect(&m_refresh->statusEngine(), &status::StatusEngine::progress, this,
            [this] { m_askedServers = true; });
}

void frmTarvex::setCommands(Commands which)
{
    // The list's own commands work without a list; the two for one server need one.
    for (QPushButton *b : {cmdRefresh, cmdPing, Command1})
        b->setEnabled(which != Commands::None);
    for (QPushButton *b : {cmdMoreInfo, cmdPingSelect})
        b->setEnabled(which == Commands::All);
}

void frmTarvex::ParseList()
{
    m_sourceProblems.clear();
    const QList<sources::SourceEntry> entries = sources::loadSources(&m_sourceProblems);
    m_pageOnlyRefresh = sources::pageOnly(entries);
    m_askedServers = false;
    m_lastProgressMs = 0;
    setStatus(QStringLiteral("Getting Server List..."));
    setCommands(Commands::None);
    m_refresh->setHttpTimeoutMs(Inet1->timeoutMs());
    m_refresh->start(entries, mnuPingStartup->isChecked());
}

void frmTarvex::refreshFailed(const QList<RefreshPipeline::Failure> &failures)
{
    setStatus(QStringLiteral("Parsing Data, Please Wait..."));
    QStringList errors;
    for (const RefreshPipeline::Failure &f : failures)
        errors << (m_pageOnlyRefresh
                       ? f.error
                       : QStringLiteral("%1: %2").arg(sources::describe(f.entry), f.error));
    const QString why = failures.isEmpty() ? QStringLiteral("No server list source is switched on.")
                                           : errors.join(QStringLiteral("; "));
    ui::messageBox(this, ServerList::failureMessage(why));
    if (m_closing)
        return;
    setCommands(Commands::ListOnly);
}

void frmTarvex::refreshListed(const RefreshPipeline::Listing &listing)
{
    setStatus(QStringLiteral("Parsing Data, Please Wait..."));
    const QList<sources::ListedServer> &rows = listing.rows;
    {
        model::ServerModel::Batch batch(*m_servers);
        m_servers->clear();
        m_servers->reserve(int(rows.size()));
        int ordinal = 0;
        for (const sources::ListedServer &s : rows) {
            // A server reached by its IPv4 address is known by it; a page row naming a host
            // keeps its address text as its key. A page may name one host in several rows,
            // or none in a row: each such row stays a row of its own.
            model::ServerKey key = s.target
                ? model::ServerKey::fromAddress(s.target->ip, s.target->port)
                : model::ServerKey{0, 0, s.address};
            if (!s.target && (s.address.isEmpty() || m_servers->rowOf(key) >= 0))
                key.host = s.address + QChar(0) + QString::number(++ordinal);
            m_servers->upsertListed(key,
                                    s.fromPage ? QStringLiteral("page") : QStringLiteral("list"),
                                    {s.name, s.address, s.players, s.map, s.fromPage});
        }
    }

    setCommands(Commands::All);
    if (listing.pageOnly) {
        setStatus(RefreshedText);
        if (listing.capped) {
            ui::messageBox(this,
                           tr("The server list page held more than %1 rows and was cut: "
                              "only the first %1 are listed.")
                               .arg(ServerList::MaxRows),
                           ui::MsgIcon::Warning);
        }
        return;
    }
    // A source that failed is named with its address; the list from the others stands.
    // What was left out, and why, is counted in the status line and told in its tooltip.
    QStringList failed, notes = m_sourceProblems;
    for (const RefreshPipeline::Failure &f : listing.failures) {
        failed << sources::describe(f.entry);
        notes << QStringLiteral("%1: %2").arg(sources::describe(f.entry), f.error);
    }
    for (const sources::SourceEntry &e : listing.empty)
        notes << QStringLiteral("%1: no usable server address in its answer")
                     .arg(sources::describe(e));
    QStringList extras;
    if (listing.skippedPrivate > 0)
        extras << QStringLiteral("%1 private address%2 skipped")
                      .arg(listing.skippedPrivate)
                      .arg(listing.skippedPrivate == 1 ? QString() : QStringLiteral("es"));
    if (rows.isEmpty())
        extras << QStringLiteral("no server listed");
    if (!m_sourceProblems.isEmpty())
        extras << QStringLiteral("%1 unreadable source setting%2")
                      .arg(m_sourceProblems.size())
                      .arg(m_sourceProblems.size() == 1 ? QString() : QStringLiteral("s"));
    QString text = failed.isEmpty() ? QStringLiteral("Server list refreshed")
                                    : QStringLiteral("Server list refreshed; not reached: %1")
                                          .arg(failed.join(QStringLiteral(", ")));
    if (!extras.isEmpty())
        text += QStringLiteral("; ") + extras.join(QStringLiteral("; "));
    m_refreshedText =
        failed.isEmpty() && extras.isEmpty() ? RefreshedText : text + QLatin1Char('.');
    Label1->setToolTip(notes.join(QLatin1Char('\n')));
    setStatus(m_refreshedText);
}

void frmTarvex::statusAnswered(const sources::ServerAddress &server,
                               const status::ServerStatus &answer, int rttMs)
{
    m_servers->setAnswer(model::ServerKey::fromAddress(server.ip, server.port), answer, rttMs);
}

void frmTarvex::statusFailed(const sources::ServerAddress &server, bool down)
{
    // The row stays; its players cell says that the server did not answer.
    m_servers->setFailed(model::ServerKey::fromAddress(server.ip, server.port), down);
}

void frmTarvex::mnuSources_Click()
{
    frmSources dialog(this);
    dialog.setEntries(sources::loadSources());
    if (ui::execDialog(dialog) != QDialog::Accepted)
        return;
    if (!sources::saveSources(dialog.entries()))
        ui::messageBox(this,
                       tr("The sources could not be saved: the settings file is not writable."),
                       ui::MsgIcon::Warning);
}

} // namespace tarvex
