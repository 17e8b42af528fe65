#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace tarvex {

// Asks for the password of a server before joining it: masked input and a
// "remember" box (disabled, with the reason as its tooltip, when passwords cannot be
// remembered). A password the game could not receive is refused in the dialog itself.
class PasswordDialog : public QDialog
{
    Q_OBJECT

public:
    PasswordDialog(const QString &serverName, QWidget *parent = nullptr);

    QString password() const;
    bool remember() const;
    void setPassword(const QString &password, bool remembered);

    void accept() override;

private:
    QLineEdit *m_password;
    QCheckBox *m_remember;
    QLabel *m_problem;
};

} // namespace tarvex
