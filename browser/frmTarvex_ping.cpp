// Pinging the listed servers through the window's Ping control.
#include "browser/frmTarvex.h"

#include "core/browser/ServerPing.h"
#include "core/model/ServerModel.h"
#include "ui/ServerView.h"
#include "hosting/PingLoader.h"
#include "ui/Dialogs.h"
#include "core/Program.h"

#include <QWidget>

namespace tarvex {

namespace {

// The window's stored layout gives its Ping control a time-out of 1500 ms and leaves
// everything else at the control's defaults.
const QVariantMap PingLayout{{QStringLiteral("TimeOut"), 1500}};

} // namespace

bool frmTarvex::createPingControl(const hosting::SearchPath &search)
{
    cancelPings();
    if (Ping1)
        delete Ping1->widget();
    Ping1 = nullptr;
    m_pingControlError.clear();

    const hosting::Loaded loaded = hosting::loadPing(this, search);
    if (!loaded.ping) {
        m_pingControlError = loaded.error;
        return false;
    }
    QString error;
    if (!loaded.ping->readProperties(PingLayout, &error)) {
        delete loaded.ping->widget();
        m_pingControlError = tr("Its stored properties could not be loaded: %1").arg(error);
        return false;
    }
    // The control's own messages ("Socket Error") are the window's modal boxes.
    connect(loaded.ping, &hosting::PingControl::messageBoxRequested, this,
            [this](const QString &text, const QString &caption) {
                ui::messageBox(this, text, ui::MsgIcon::None, caption);
            });
    connect(loaded.ping, &hosting::PingControl::echoResult, this, &frmTarvex::pingAnswered);
    connect(loaded.ping, &hosting::PingControl::echoesFinished, this, &frmTarvex::pingFinished);
    // The control works unseen: its face is a button whose clicks mean nothing here.
    loaded.ping->widget()->setObjectName(QStringLiteral("Ping1"));
    loaded.ping->widget()->hide();
    Ping1 = loaded.ping;
    return true;
}

bool frmTarvex::pingControlReady()
{
    if (Ping1)
        return true;
    ui::messageBox(
        this,
        tr("Pinging is not available: the Ping control \"%1\" could not be created.\n\n%2")
            .arg(hosting::PingProgId, m_pingControlError),
        ui::MsgIcon::Warning);
    return false;
}

void frmTarvex::startPingRun(ServerPing::Run run, bool list)
{
    if (run.isEmpty()) {
        // Nothing to ping (only the title row): finished at once.
        setStatus(ServerPing::FinishedText);
        return;
    }
    const qint32 id = Ping1->startEchoes(run.hosts());
    if (id <= 0) {
        ui::messageBox(this, tr("Pinging could not start."), ui::MsgIcon::Warning);
        return;
    }
    if (list)
        m_listPing = id;
    m_pingRuns.insert_or_assign(id, std::move(run));
}

void frmTarvex::cancelPings()
{
    if (Ping1 && !m_pingRuns.empty())
        Ping1->cancelEchoes(0);
    m_pingRuns.clear();
    m_listPing = 0;
}

void frmTarvex::pingAnswered(qint32 run, qint32 index, const QVariant &result)
{
    const auto it = m_pingRuns.find(run);
    if (it == m_pingRuns.end())
        return;
    const std::optional<ServerPing::Run::Answer> answer = it->second.answer(index, result);
    if (!answer)
        return;
    // Milliseconds come as a number; anything else is the control's failure text.
    bool isNumber = false;
    const int ms =
        answer->result.typeId() == QMetaType::QString ? -1 : answer->result.toInt(&isNumber);
    if (isNumber)
        m_servers->setPing(answer->key, ms);
    else
        m_servers->setPingError(answer->key, ServerPing::resultText(answer->result));
    setStatus(answer->progress);
}

void frmTarvex::pingFinished(qint32 run)
{
    if (m_pingRuns.erase(run) == 0)
        return;
    if (run == m_listPing)
        m_listPing = 0;
    setStatus(ServerPing::FinishedText);
}

void frmTarvex::Ping()
{
    if (!pingControlReady())
        return;
    // A second "Ping List" while one runs starts it again from the first row.
    if (m_listPing) {
        Ping1->cancelEchoes(m_listPing);
        m_pingRuns.erase(m_listPing);
        m_listPing = 0;
    }
    QList<ServerPing::Target> targets;
    for (int row = 1; row < Grid1->Rows(); ++row)
        targets.append({*Grid1->keyAt(row), Grid1->TextMatrix(row, ColAddress), row});
    startPingRun(ServerPing::Run::list(std::move(targets), Grid1->Rows()), true);
}

void frmTarvex::cmdPing_Click() { Ping(); }

void frmTarvex::cmdPingSelect_Click()
{
    if (!pingControlReady())
        return;
    const int row = Grid1->Row();
    if (row < 1) {
        // The current row is still the title row: there is no server to ping yet.
        setStatus(tr("Select a server in the list first, then ping it."));
        return;
    }
    startPingRun(ServerPing::Run::selected(
                     {*Grid1->keyAt(row), Grid1->TextMatrix(row, ColAddress), row}, Grid1->Rows()),
                 false);
}

} // namespace tarvex
