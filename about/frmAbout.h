#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

namespace tarvex {

namespace about {
class Registry;
}

// The About box: the program's name, version, description and credits, and a button
// that starts the machine's system information tool. Each showing is a fresh box that
// runs Form_Load; the main window shows it modeless as a splash at start-up and modal
// from Help > About.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    static const QString UnavailableText;

    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

    // Sets the caption, the version line and the credit lines.
    void Form_Load();

    // The start-up splash: a fresh ownerless box, or the one in box brought to the
    // front when it is still open. The splash goes when owner goes.
    static void showSplash(QPointer<frmAbout> &box, QWidget *owner);
    // Help > About: a modal box owned by owner. A splash still open becomes that box
    // where it stands rather than a second box opening; box holds the box shown.
    static void showModal(QPointer<frmAbout> &box, QWidget *owner);

    void cmdOK_Click();
    void cmdSysInfo_Click();

    // Starts the system information tool named by the registry, or tells the user that
    // there is none; the box stays open either way.
    void StartSysInfo();

    bool GetKeyValue(std::uint32_t KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                     QString &KeyVal);

    // The registry the look-ups read: the machine's own unless another is set (tests).
    // The box does not own it.
    void setRegistry(about::Registry *registry);

    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QFrame *Line1 = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdSysInfo = nullptr;

private:
    void buildLayout();
    bool startProgram(const QString &path);

    about::Registry *m_registry;
};

} // namespace tarvex
