// Submitting a server address to the list's maintainers; the About box.
#include "browser/frmTarvex.h"

#include "about/frmAbout.h"
#include "core/net/HttpTransfer.h"
#include "core/browser/Settings.h"
#include "ui/Dialogs.h"
#include "core/Program.h"

#include <QLabel>
#include <QPointer>
#include <QUrl>

namespace tarvex {

namespace {

const QString AddServerPath = QStringLiteral("/q2serverlist/addserver.asp");
const QString SubmittedPort = QStringLiteral("27910");

// The add-server request for an address as the user typed it. The text goes into the
// query unchanged, "&" and "=" included; tolerant parsing percent-encodes only what a
// request line cannot carry (blanks, control characters, non-ASCII) and a "#", which
// would otherwise cut off the rest of the query as a fragment.
QUrl addServerUrl(const QString &addressText)
{
    QUrl url = Settings::endpointUrl(Settings::KeyAddServerHost, AddServerPath);
    url.setQuery(QStringLiteral("tIP=") + addressText + QStringLiteral("&tPort=") + SubmittedPort,
                 QUrl::TolerantMode);
    return url;
}

} // namespace

void frmTarvex::Command1_Click()
{
    // A cancelled box still sends the request, with an empty address.
    const QString addressText = ui::inputBox(this, QStringLiteral("Server IP Address:"),
                                             QStringLiteral("Server IP Address"),
                                             QStringLiteral("000.000.000.000"))
                                    .value_or(QString());
    if (Program::endRequested())
        return;
    setStatus(QStringLiteral("Getting Server List..."));
    const QString unusable = Settings::endpointProblem(Settings::KeyAddServerHost);
    if (!unusable.isEmpty()) {
        setStatus(tr("Server not submitted: %1").arg(unusable));
        return;
    }

    Inet1->URL = addServerUrl(addressText);
    const HttpTransfer::Result sent = Inet1->OpenURL();
    if (Program::endRequested())
        return;
    // The page's answer is not read: any HTTP answer means the request arrived. Only a
    // request that never got one is reported; otherwise the status line stays as it is.
    if (!sent.ok && sent.httpStatus == 0)
        setStatus(tr("Server not submitted: %1").arg(sent.error));
}

void frmTarvex::showAboutSplash()
{
    if (m_about && m_about->isVisible()) {
        m_about->raise();
        m_about->activateWindow();
        return;
    }
    delete m_about; // a box hidden without being closed is done with

    auto *box = new frmAbout(nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The splash has no owner, yet it goes when this window goes.
    connect(this, &QObject::destroyed, box, &QObject::deleteLater);
    m_about = box;
    box->Form_Load();
    box->show();
}

void frmTarvex::mnuAbout_Click()
{
    QPointer<frmAbout> box = m_about;
    if (box && box->isVisible() && box->isModal()) {
        box->raise();
        box->activateWindow();
        return;
    }
    if (box && box->isVisible()) {
        // The start-up box is still open: rather than a second box, that one comes to
        // the front, owned by this window and modal, where it stands.
        const QPoint at = box->pos();
        box->hide();
        box->setParent(this, box->windowFlags());
        box->move(at);
    } else {
        delete box;
        box = new frmAbout(this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        m_about = box;
        box->Form_Load();
    }
    box->exec();
}

} // namespace tarvex
