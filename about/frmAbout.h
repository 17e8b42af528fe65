#pragma once

#include <QDialog>
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
