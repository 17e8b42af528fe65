// Opening the details window for the current server row.
#include "browser/frmTarvex.h"

#include "core/browser/Module1.h"
#include "details/frmMoreInfo.h"
#include "ui/FlexGrid.h"
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
    // The port of the Address cell is dropped: the query always goes to port 27910.
    Module1::ServerIP = Module1::HostPart(Grid1->TextMatrix(row, ColAddress));

    // A window that was closed or failed to load may await its deletion: it counts as
    // not loaded, and a fresh one takes its place.
    if (m_moreInfo && m_moreInfo->state() != frmMoreInfo::State::NotLoaded) {
        // Shown: brought to the front with its data; loading: its query is still running.
        m_moreInfo->Show();
        return;
    }
    if (Module1::ServerIP.isEmpty()) {
        ui::messageBox(this, QStringLiteral("The selected row holds no server address."),
                       ui::MsgIcon::Information);
        return;
    }
    if (!Module1::IsPlainHost(Module1::ServerIP)) {
        ui::messageBox(this,
                       QStringLiteral("The selected server's address is not a host name or "
                                      "IP address, so it was not queried.\n\nAn address may "
                                      "hold only letters, digits, dots and hyphens, and may "
                                      "not begin with a hyphen."),
                       ui::MsgIcon::Warning);
        return;
    }
    m_moreInfo = new frmMoreInfo(this);
    m_moreInfo->Show();
}

} // namespace tarvex
