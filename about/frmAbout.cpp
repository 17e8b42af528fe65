#include "about/frmAbout.h"

#include "core/about/Registry.h"
#include "core/about/SystemInfo.h"
#include "ui/Dialogs.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tarvex {

const QString frmAbout::UnavailableText =
    QStringLiteral("System Information Is Unavailable At This Time");

namespace {

QString disclaimerText()
{
    // Four lines, the second one empty, separated by CR LF so that the text copied from
    // the box keeps its line ends on any platform.
    return QStringLiteral("Copyright (C) 2026 The Tarvex developers.\r\n"
                          "\r\n"
                          "Thanks to the authors of QStat for the use of their tool.\r\n"
                          "QStat is Copyright (C) 1996-2014 by its authors.");
}

QLabel *label(QWidget *parent, const char *name, const QString &text = QString())
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent),
      m_registry(&about::systemRegistry())
{
    setObjectName(QStringLiteral("frmAbout"));
    buildLayout();
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

frmAbout::~frmAbout() = default;

void frmAbout::buildLayout()
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    picIcon = label(this, "picIcon");
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    picIcon->setPixmap(icon.pixmap(32, 32));
    picIcon->setFixedSize(32, 32);

    lblTitle = label(this, "lblTitle", QStringLiteral("Tarvex"));
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    lblVersion = label(this, "lblVersion");
    lblDescription = label(this, "lblDescription",
                           QStringLiteral("Finds Quake 2 servers, pings them, shows who is "
                                          "playing and joins the game."));
    lblDisclaimer = label(this, "lblDisclaimer");
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken); // a grey line over a white one

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setAutoDefault(false);

    auto *heading = new QVBoxLayout;
    heading->addWidget(lblTitle);
    heading->addWidget(lblVersion);
    heading->addSpacing(6);
    heading->addWidget(lblDescription);
    auto *top = new QHBoxLayout;
    top->addWidget(picIcon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(heading, 1);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    buttons->addStretch(1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(lblDisclaimer, 1);
    bottom->addSpacing(12);
    bottom->addLayout(buttons);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(6);
    layout->addWidget(Line1);
    layout->addSpacing(6);
    layout->addLayout(bottom);
    // The box fits its texts and cannot be resized.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About Tarvex"));
    // Major and minor only; the revision is not shown.
    lblVersion->setText(
        QStringLiteral("Version %1.%2").arg(TARVEX_VERSION_MAJOR).arg(TARVEX_VERSION_MINOR));
    lblDisclaimer->setText(disclaimerText());
}

void frmAbout::cmdOK_Click() { close(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

void frmAbout::setRegistry(about::Registry *registry)
{
    m_registry = registry ? registry : &about::systemRegistry();
}

bool frmAbout::GetKeyValue(std::uint32_t KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                           QString &KeyVal)
{
    return about::GetKeyValue(*m_registry, KeyRoot, KeyName, SubKeyRef, KeyVal);
}

void frmAbout::StartSysInfo()
{
    using about::Registry;
    QString path;
    bool found = false;
    if (GetKeyValue(Registry::HKEY_LOCAL_MACHINE, about::MsInfoKey, about::MsInfoPathValue, path)) {
        // The full path of the tool; whether it can start is found out by starting it.
        found = true;
    } else if (GetKeyValue(Registry::HKEY_LOCAL_MACHINE, about::SharedToolsKey,
                           about::SharedToolsMsInfoValue, path)) {
        path += QLatin1Char('/') + about::MsInfoProgram;
        found = QFileInfo(path).isFile();
    }
    if (found && startProgram(path))
        return;
    ui::messageBox(this, UnavailableText, ui::MsgIcon::None, ui::AppTitle);
}

bool frmAbout::startProgram(const QString &path)
{
    if (path.isEmpty())
        return false;
    // Started on its own, not waited for, and with no ties to this program's lifetime.
    QProcess process;
    process.setProgram(path);
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached();
}

void frmAbout::showSplash(QPointer<frmAbout> &current, QWidget *owner)
{
    if (current && current->isVisible()) {
        current->raise();
        current->activateWindow();
        return;
    }
    delete current; // a box hidden without being closed is done with

    auto *box = new frmAbout(nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The splash has no owner, yet it goes when the window that showed it goes.
    QObject::connect(owner, &QObject::destroyed, box, &QObject::deleteLater);
    current = box;
    box->Form_Load();
    box->show();
}

void frmAbout::showModal(QPointer<frmAbout> &current, QWidget *owner)
{
    QPointer<frmAbout> box = current;
    if (box && box->isVisible() && box->isModal()) {
        box->raise();
        box->activateWindow();
        return;
    }
    if (box && box->isVisible()) {
        // The start-up box is still open: rather than a second box, that one comes to
        // the front, owned by the window and modal, where it stands.
        const QPoint at = box->pos();
        box->hide();
        box->setParent(owner, box->windowFlags());
        box->move(at);
    } else {
        delete box;
        box = new frmAbout(owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        current = box;
        box->Form_Load();
    }
    ui::execDialog(box);
}

} // namespace tarvex
