// Opening the details window for the current server row.
#include "browser/frmTarvex.h"

#include "console/RemoteConsole.h"
#include "core/sources/ServerAddress.h"

#include "core/browser/Module1.h"
#include "details/frmMoreInfo.h"
#include "ui/ServerView.h"
#include "ui/Dialogs.h"

namespace tarvex {

void frmTarvex::cmdMoreInfo_Click()
{
    const int row = Grid1->Row();
    if (row < 1) {
        // The title row would name a server called "Address".
        ui::messageBox(this, QStringLiteral("Please select a server in the list first."),
                       ui::MsgIcon::Information);
        return;
    }
    // The query goes to the cell's port, or to Quake 2's when the cell names none.
    const QString address = Grid1->TextMatrix(row, ColAddress);
    const QString host = Module1::HostPart(address);

    // A window that was closed or failed to load may await its deletion: it counts as
    // not loaded, and a fresh one takes its place.
    if (m_moreInfo && m_moreInfo->state() != frmMoreInfo::State::NotLoaded) {
        // Shown: brought to the front with its data; loading: its query is still running.
        m_moreInfo->Show();
        return;
    }
    if (host.isEmpty()) {
        ui::messageBox(this, QStringLiteral("The selected row holds no server address."),
                       ui::MsgIcon::Information);
        return;
    }
    if (!Module1::IsPlainAddress(address)) {
        ui::messageBox(this,
                       Module1::NotPlainHostText
                           + QStringLiteral("\n\nAn address may hold only letters, digits, "
                                            "dots and hyphens, and may not begin with a hyphen."),
                       ui::MsgIcon::Warning);
        return;
    }
    m_moreInfo = new frmMoreInfo(this, host, Module1::PortPart(address, QStatQuery::DefaultPort));
    m_moreInfo->Show();
}

void frmTarvex::mnuRemoteConsole_Click()
{
    // The console talks to a numeric address and port only: what it sends carries a
    // password, so it never goes to a name that may resolve elsewhere later.
    const int row = Grid1->Row();
    const std::optional<sources::ServerAddress> server = row < 1
        ? std::nullopt
        : sources::parseAddressText(Grid1->TextMatrix(row, ColAddress).contains(QLatin1Char(':'))
                                        ? Grid1->TextMatrix(row, ColAddress)
                                        : Grid1->TextMatrix(row, ColAddress)
                                            + QStringLiteral(":27910"));
    if (!server) {
        ui::messageBox(this,
                       tr("Select a server with an IP address in the list first, then open its "
                          "remote console."),
                       ui::MsgIcon::Information);
        return;
    }
    auto *console = new RemoteConsole(QHostAddress(server->ip), server->port, this);
    console->setAttribute(Qt::WA_DeleteOnClose);
    console->setWindowFlag(Qt::Window);
    console->show();
}

} // namespace tarvex
