// Pinging the listed servers through the window's Ping control.
#include "browser/frmTarvex.h"

#include "core/browser/ServerPing.h"
#include "ui/FlexGrid.h"
#include "hosting/ControlLoader.h"
#include "ui/Dialogs.h"
#include "core/Program.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

namespace tarvex {

namespace {

const QString PingProgId = QStringLiteral("PingOCX.Ping");

// The window's stored layout gives its Ping control a time-out of 1500 ms and leaves
// everything else at the control's defaults.
const QVariantMap PingLayout{{QStringLiteral("TimeOut"), 1500}};

} // namespace

bool frmTarvex::createPingControl(const hosting::SearchPath &search)
{
    delete Ping1;
    Ping1 = nullptr;
    m_pingControlError.clear();

    const hosting::Created created = hosting::createControl(PingProgId, this, search);
    if (!created.control) {
        m_pingControlError = created.error;
        return false;
    }
    QString error;
    if (!hosting::readProperties(created.control, PingLayout, &error)) {
        delete created.control;
        m_pingControlError = tr("Its stored properties could not be loaded: %1").arg(error);
        return false;
    }
    // The control's own messages ("Socket Error") are the window's modal boxes.
    hosting::routeMessageBoxes(created.control, [this](const QString &text, const QString &caption) {
        ui::messageBox(this, text, ui::MsgIcon::None, caption);
    });
    // The control works unseen: its face is a button whose clicks mean nothing here.
    created.control->setObjectName(QStringLiteral("Ping1"));
    created.control->hide();
    Ping1 = created.control;
    return true;
}

bool frmTarvex::pingControlReady()
{
    if (Ping1)
        return true;
    ui::messageBox(this,
                   tr("Pinging is not available: the Ping control \"%1\" could not be created.\n\n%2")
                       .arg(PingProgId, m_pingControlError),
                   ui::MsgIcon::Warning);
    return false;
}

namespace {

ServerPing::Hooks hooksFor(frmTarvex *window, QObject *control)
{
    QPointer<QObject> ping(control);
    ServerPing::Hooks hooks;
    hooks.send = [ping](const QString &host) -> std::optional<QVariant> {
        if (!ping || !hosting::setProperty(ping, "HostName", host))
            return std::nullopt;
        const hosting::Invoked sent = hosting::call(ping, "Send");
        if (!sent.ok || Program::endRequested())
            return std::nullopt;
        return sent.value;
    };
    hooks.status = [window](const QString &text) { window->setStatus(text); };
    hooks.pump = [] {
        QCoreApplication::processEvents();
        return !Program::endRequested();
    };
    return hooks;
}

} // namespace

void frmTarvex::Ping()
{
    if (!pingControlReady())
        return;
    ServerPing::pingList(*Grid1, hooksFor(this, Ping1));
}

void frmTarvex::cmdPing_Click()
{
    Ping();
}

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
    ServerPing::pingRow(*Grid1, row, hooksFor(this, Ping1));
}

} // namespace tarvex
