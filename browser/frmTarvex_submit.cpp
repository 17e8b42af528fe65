// Submitting a server address to the list's maintainers; the About box's menu entry.
#include "browser/frmTarvex.h"

#include "about/frmAbout.h"
#include "core/net/HttpTransfer.h"
#include "core/browser/ServerSubmit.h"
#include "core/browser/Settings.h"
#include "ui/Dialogs.h"
#include "core/Program.h"

#include <QUrl>

namespace tarvex {

void frmTarvex::Command1_Click()
{
    // A cancelled box still sends the request, with an empty address.
    const QString addressText =
        ui::inputBox(this, QStringLiteral("Server IP Address:"),
                     QStringLiteral("Server IP Address"), QStringLiteral("000.000.000.000"))
            .value_or(QString());
    if (m_closing)
        return;
    setStatus(QStringLiteral("Getting Server List..."));
    const QString unusable = Settings::endpointProblem(Settings::KeyAddServerHost);
    if (!unusable.isEmpty()) {
        setStatus(tr("Server not submitted: %1").arg(unusable));
        return;
    }

    // The page's answer is not read: any HTTP answer means the request arrived. Only a
    // request that never got one is reported; otherwise the status line stays as it is.
    disconnect(Inet1, &HttpTransfer::finished, this, nullptr);
    connect(Inet1, &HttpTransfer::finished, this, [this](const HttpTransfer::Result &sent) {
        if (!sent.ok && sent.httpStatus == 0 && !m_closing)
            setStatus(tr("Server not submitted: %1").arg(sent.error));
        emit submissionFinished();
    });
    Inet1->get(ServerSubmit::addServerUrl(addressText));
}

void frmTarvex::showAboutSplash() { frmAbout::showSplash(m_about, this); }

void frmTarvex::mnuAbout_Click() { frmAbout::showModal(m_about, this); }

} // namespace tarvex
