// The main window's server history: each refresh's answers are recorded when it ends,
// and Options › History sets how long they are kept, clears them or stops recording.
#include "browser/frmTarvex.h"

#include "core/history/HistoryStore.h"
#include "core/model/ServerModel.h"
#include "history/HistoryCharts.h"
#include "history/HistoryDialog.h"
#include "browser/InfoPane.h"
#include "ui/ServerView.h"
#include "ui/Dialogs.h"

#include <QAction>
#include <QDateTime>
#include <QItemSelectionModel>
#include <QMenu>
#include <memory>

namespace tarvex {

void frmTarvex::setUpHistory()
{
    m_history = new history::HistoryStore(this);
    m_history->setRetentionDays(history::loadOptions().days);

    // The chosen server's history beside its answer in the info pane.
    auto *charts = new history::HistoryCharts(m_history, infoPane);
    charts->setObjectName(QStringLiteral("HistoryCharts"));
    infoPane->setSideWidget(charts);
    // Shown for a chosen server only; the pane's own words ask for a choice.
    const auto showChosen = [this, charts] {
        const std::optional<model::ServerKey> key = Grid1->keyAt(Grid1->Row());
        charts->setVisible(key.has_value());
        if (key)
            charts->showServer(*key);
    };
    showChosen();
    connect(Grid1->selectionModel(), &QItemSelectionModel::currentRowChanged, charts, showChosen);
    connect(this, &frmTarvex::refreshFinished, charts, showChosen);
    // What the store has to tell (the database moved aside, recording stopped) goes
    // into the status line once, after the refresh's own texts.
    auto notes = std::make_shared<QStringList>();
    connect(m_history, &history::HistoryStore::noteRaised, this,
            [notes](const QString &text) { notes->append(text); });
    // Only a refresh that listed servers has answers of its own to record; one stopped
    // before would record the previous refresh's servers again.
    auto listed = std::make_shared<bool>(false);
    connect(m_refresh, &RefreshPipeline::listed, this, [listed] { *listed = true; });
    connect(this, &frmTarvex::refreshFinished, this, [this, listed, notes] {
        if (m_closing)
            return;
        if (!m_history->isOpen() && m_history->note().isEmpty())
            m_history->open(history::HistoryStore::defaultPath());
        const bool record = *listed && history::loadOptions().enabled;
        *listed = false;
        if (record) {
            QList<history::Sample> samples;
            samples.reserve(m_servers->rowCount());
            for (int row = 0; row < m_servers->rowCount(); ++row) {
                const model::ServerRecord &r = m_servers->record(row);
                if (r.answered())
                    samples.append({r.key, true,
                                    r.shownPlayers >= 0 ? r.shownPlayers : r.playerCount(),
                                    r.maxClients, r.map});
                else if (r.silent())
                    samples.append({r.key, false, 0, -1, {}});
            }
            if (!samples.isEmpty())
                m_history->record(samples, QDateTime::currentSecsSinceEpoch());
        }
        // The "Last Seen" and "Peak Today" cells, from what the history now holds.
        if (m_history->isOpen()) {
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            m_servers->setHistoryFigures([this, now](const model::ServerKey &key) {
                return std::pair<qint64, int>(m_history->lastSeen(key).value_or(0),
                                              m_history->peakToday(key, now));
            });
        }
        for (const QString &text : std::as_const(*notes))
            setStatus(text);
        notes->clear();
    });

    QAction *entry = mnuOptions->addAction(QStringLiteral("&History..."));
    entry->setObjectName(QStringLiteral("mnuHistory"));
    connect(entry, &QAction::triggered, this, [this] {
        if (!m_history->isOpen() && m_history->note().isEmpty())
            m_history->open(history::HistoryStore::defaultPath());
        history::HistoryDialog dialog(m_history, history::loadOptions(), this);
        if (ui::execDialog(dialog) != QDialog::Accepted)
            return;
        const history::Options options = dialog.options();
        history::saveOptions(options);
        m_history->setRetentionDays(options.days);
    });
}

} // namespace tarvex
