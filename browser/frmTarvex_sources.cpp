// The main window's refresh from several list sources, and the status refresh that
// fills names, players and maps by asking every listed server itself.
#include "browser/frmTarvex.h"

#include "core/net/HttpTransfer.h"
#include "core/browser/ServerListParser.h"
#include "browser/frmSources.h"
#include "core/sources/Merge.h"
#include "core/sources/SourceFetch.h"
#include "core/status/StatusEngine.h"
#include "ui/FlexGrid.h"
#include "ui/Dialogs.h"
#include "core/Program.h"

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

bool frmTarvex::statusRefreshRunning() const { return m_status && m_status->isRunning(); }

void frmTarvex::cancelStatusRefresh()
{
    if (statusRefreshRunning())
        m_status->cancel();
}

void frmTarvex::refreshFromSources(const QList<sources::SourceEntry> &entries)
{
    setStatus(QStringLiteral("Getting Server List..."));
    for (QPushButton *b : {cmdRefresh, cmdPing, Command1, cmdMoreInfo, cmdPingSelect})
        b->setEnabled(false);

    QList<QList<sources::ListedServer>> lists;
    QStringList failed, errors;
    bool anyOk = false;
    for (const sources::SourceEntry &entry : entries) {
        if (!entry.enabled)
            continue;
        setStatus(QStringLiteral("Getting Server List... (%1)").arg(sources::kindName(entry.kind)));
        const sources::FetchResult r = sources::fetchSource(entry, *Inet1);
        if (Program::endRequested())
            return;
        if (!r.ok) {
            failed << sources::kindName(entry.kind);
            errors << QStringLiteral("%1: %2").arg(sources::describe(entry), r.error);
            continue;
        }
        anyOk = true;
        lists.append(r.rows);
    }
    setStatus(QStringLiteral("Parsing Data, Please Wait..."));

    if (!anyOk) {
        const QString why = errors.isEmpty()
            ? QStringLiteral("No server list source is switched on.")
            : errors.join(QStringLiteral("; "));
        ui::messageBox(this, ServerList::failureMessage(why));
        if (Program::endRequested())
            return;
        for (QPushButton *b : {cmdRefresh, cmdPing, Command1})
            b->setEnabled(true);
        return;
    }

    const QList<sources::ListedServer> rows = sources::mergeSources(lists);
    {
        GridBatch batch(*Grid1);
        for (int i = 0; i < rows.size(); ++i) {
            if (i > 0)
                Grid1->AddItem(QString());
            const sources::ListedServer &s = rows[i];
            Grid1->setTextMatrix(i + 1, ColName, s.name);
            Grid1->setTextMatrix(i + 1, ColAddress, s.address);
            Grid1->setTextMatrix(i + 1, ColPlayers, s.players);
            Grid1->setTextMatrix(i + 1, ColMap, s.map);
        }
    }

    for (QPushButton *b : {cmdRefresh, cmdPing, cmdMoreInfo, Command1, cmdPingSelect})
        b->setEnabled(true);
    // A source that failed is named; the list from the others stands.
    m_refreshedText = failed.isEmpty() ? RefreshedText
                                       : QStringLiteral("Server list refreshed; not reached: %1.")
                                             .arg(failed.join(QStringLiteral(", ")));
    if (!errors.isEmpty())
        Label1->setToolTip(errors.join(QLatin1Char('\n')));
    setStatus(m_refreshedText);
    startStatusRefresh(rows);
}

void frmTarvex::startStatusRefresh(const QList<sources::ListedServer> &rows)
{
    m_statusRows.clear();
    QList<sources::ServerAddress> targets;
    for (int i = 0; i < rows.size(); ++i) {
        if (!rows[i].target)
            continue;
        targets.append(*rows[i].target);
        m_statusRows.append({i + 1, rows[i].address, rows[i].players, rows[i].fromPage});
    }
    if (targets.isEmpty()) {
        statusFinished(false);
        return;
    }
    if (!m_status) {
        m_status = new status::StatusEngine(this);
        connect(
            m_status, &status::StatusEngine::answered, this,
            [this](int index, const status::ServerStatus &s, int) { statusAnswered(index, s); });
        connect(m_status, &status::StatusEngine::failed, this,
                [this](int index, status::StatusEngine::Outcome o) {
                    statusFailed(index, o == status::StatusEngine::Outcome::Down);
                });
        connect(m_status, &status::StatusEngine::progress, this, [this](int done, int total) {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (done < total && now - m_lastProgressMs < ProgressEveryMs)
                return;
            m_lastProgressMs = now;
            setStatus(
                QStringLiteral("Asking servers: %1 of %2 done (Esc stops)").arg(done).arg(total));
        });
        connect(m_status, &status::StatusEngine::finished, this, &frmTarvex::statusFinished);
    }
    m_lastProgressMs = 0;
    QString error;
    if (!m_status->start(targets, &error)) {
        setStatus(QStringLiteral("Servers not asked: %1").arg(error));
        return;
    }
}

int frmTarvex::rowOfStatus(int index) const
{
    const StatusRow &s = m_statusRows[index];
    if (Grid1->TextMatrix(s.row, ColAddress) == s.address)
        return s.row;
    // The user sorted the grid meanwhile: find the row by its address.
    for (int r = 1; r < Grid1->Rows(); ++r) {
        if (Grid1->TextMatrix(r, ColAddress) == s.address)
            return r;
    }
    return -1;
}

void frmTarvex::statusAnswered(int index, const status::ServerStatus &answer)
{
    const int row = rowOfStatus(index);
    if (row < 0)
        return;
    // A page row keeps the page's name; its players and map become the live ones.
    const QString name = answer.value("hostname");
    if (!m_statusRows[index].fromPage && !name.isEmpty())
        Grid1->setTextMatrix(row, ColName, name);
    const QString players = answer.playersText();
    if (!players.isEmpty())
        Grid1->setTextMatrix(row, ColPlayers, players);
    const QString map = answer.value("mapname");
    if (!map.isEmpty())
        Grid1->setTextMatrix(row, ColMap, map);
}

void frmTarvex::statusFailed(int index, bool down)
{
    const int row = rowOfStatus(index);
    if (row < 0)
        return;
    // The row stays; its players cell says that the server did not answer.
    const QString base = m_statusRows[index].players;
    const QString mark = down ? DownMark : NoAnswerMark;
    Grid1->setTextMatrix(row, ColPlayers, base.isEmpty() ? mark : base + QLatin1Char(' ') + mark);
}

void frmTarvex::statusFinished(bool cancelled)
{
    if (Program::endRequested())
        return;
    if (cancelled) {
        setStatus(QStringLiteral("Server status refresh stopped."));
        return;
    }
    setStatus(m_refreshedText);
    // The ping runs after this signal has returned, never inside the engine's report.
    if (mnuPingStartup->isChecked())
        QTimer::singleShot(0, this, [this] {
            if (!Program::endRequested())
                Ping();
        });
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
