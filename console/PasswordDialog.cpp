#include "console/PasswordDialog.h"

#include "core/browser/GameLaunch.h"
#include "console/SecretStore.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tarvex {

PasswordDialog::PasswordDialog(const QString &serverName, QWidget *parent)
    : QDialog(parent),
      m_password(new QLineEdit(this)),
      m_remember(new QCheckBox(tr("&Remember for this server"), this)),
      m_problem(new QLabel(this))
{
    setWindowTitle(tr("Server Password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setAccessibleName(tr("Server password"));
    m_remember->setAccessibleName(tr("Remember the password for this server"));
    if (!SecretStore::available()) {
        m_remember->setEnabled(false);
        m_remember->setToolTip(SecretStore::unavailableReason());
    }
    m_problem->setWordWrap(true);
    m_problem->setAccessibleName(tr("Password problem"));
    m_problem->hide();
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(tr("Join with this password"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(tr("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &PasswordDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PasswordDialog::reject);

    auto *prompt = new QLabel(tr("%1 asks for a password.").arg(serverName), this);
    prompt->setAccessibleName(tr("Server"));
    auto *form = new QFormLayout;
    auto *label = new QLabel(tr("&Password:"), this);
    label->setBuddy(m_password);
    form->addRow(label, m_password);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addLayout(form);
    layout->addWidget(m_remember);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

QString PasswordDialog::password() const { return m_password->text(); }

bool PasswordDialog::remember() const { return m_remember->isEnabled() && m_remember->isChecked(); }

void PasswordDialog::setPassword(const QString &password, bool remembered)
{
    m_password->setText(password);
    m_remember->setChecked(remembered && m_remember->isEnabled());
}

void PasswordDialog::accept()
{
    const QString problem = GameLaunch::passwordProblem(password());
    if (!problem.isEmpty()) {
        m_problem->setText(problem);
        m_problem->show();
        m_password->setFocus();
        return;
    }
    QDialog::accept();
}

} // namespace tarvex
