#include "console/RemoteConsole.h"

#include "console/SecretStore.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {

namespace {
// The history keeps this many commands, the oldest dropped first.
constexpr int MaxHistory = 200;
// The pane keeps this many lines.
constexpr int MaxOutputLines = 5000;
} // namespace

RemoteConsole::RemoteConsole(const QHostAddress &address, quint16 port, QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_client(address, port, this),
      m_secrets(new SecretStore(this)),
      m_secretKey(SecretStore::key(SecretStore::Kind::Rcon, address.toString(), port)),
      m_password(new QLineEdit(this)),
      m_remember(new QCheckBox(tr("&Remember"), this)),
      m_output(new QPlainTextEdit(this)),
      m_command(new QLineEdit(this)),
      m_send(new QPushButton(tr("&Send"), this))
{
    const QString server = QStringLiteral("%1:%2").arg(address.toString()).arg(port);
    setWindowTitle(tr("Remote Console - %1").arg(server));
    setAccessibleName(tr("Remote console of %1").arg(server));

    m_password->setEchoMode(QLineEdit::Password);
    m_password->setAccessibleName(tr("Remote console password"));
    m_remember->setAccessibleName(tr("Remember the remote console password"));
    if (!SecretStore::available()) {
        m_remember->setEnabled(false);
        m_remember->setToolTip(SecretStore::unavailableReason());
    }
    m_output->setReadOnly(true);
    m_output->setMaximumBlockCount(MaxOutputLines);
    m_output->setAccessibleName(tr("Server answers"));
    m_output->setFont(QFont(QStringLiteral("monospace")));
    m_command->setAccessibleName(tr("Command"));
    m_command->installEventFilter(this);
    m_send->setAccessibleName(tr("Send the command"));
    m_send->setDefault(true);

    auto *passwordLabel = new QLabel(tr("&Password:"), this);
    passwordLabel->setBuddy(m_password);
    auto *commandLabel = new QLabel(tr("&Command:"), this);
    commandLabel->setBuddy(m_command);
    auto *top = new QHBoxLayout;
    top->addWidget(passwordLabel);
    top->addWidget(m_password, 1);
    top->addWidget(m_remember);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(commandLabel);
    bottom->addWidget(m_command, 1);
    bottom->addWidget(m_send);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_output, 1);
    layout->addLayout(bottom);

    connect(m_command, &QLineEdit::returnPressed, this, &RemoteConsole::sendCommand);
    connect(m_send, &QPushButton::clicked, this, &RemoteConsole::sendCommand);
    connect(&m_client, &RconClient::finished, this, &RemoteConsole::showAnswer);
    connect(m_remember, &QCheckBox::toggled, this, [this](bool on) {
        // Unticking forgets the stored password at once.
        if (!on)
            m_secrets->remove(m_secretKey);
    });
    connect(m_secrets, &SecretStore::readDone, this,
            [this](const QString &, const QString &password, bool notFound, const QString &error) {
                if (!error.isEmpty() || notFound || !m_password->text().isEmpty())
                    return;
                m_password->setText(password);
                const QSignalBlocker quiet(m_remember);
                m_remember->setChecked(true);
            });
    connect(m_secrets, &SecretStore::writeDone, this,
            [this](const QString &, const QString &error) {
                if (!error.isEmpty())
                    append(tr("The password was not remembered: %1").arg(error));
            });
    if (SecretStore::available())
        m_secrets->read(m_secretKey);
    m_command->setFocus();
}

QString RemoteConsole::output() const { return m_output->toPlainText(); }

void RemoteConsole::sendCommand()
{
    const QString command = m_command->text();
    const QString problem = m_client.send(m_password->text(), command);
    append(QStringLiteral("> %1").arg(command));
    if (!problem.isEmpty()) {
        append(problem);
        return;
    }
    m_pendingPassword = m_password->text();
    if (m_history.isEmpty() || m_history.last() != command)
        m_history << command;
    if (m_history.size() > MaxHistory)
        m_history.removeFirst();
    m_historyAt = m_history.size();
    m_command->clear();
}

void RemoteConsole::showAnswer(RconClient::Result result, const QString &text)
{
    append(text.endsWith(u'\n') ? text.chopped(1) : text);
    if (result == RconClient::Result::BadPassword)
        append(tr("The server refused the password."));
    // Only a password the server took is remembered.
    if (result == RconClient::Result::Answered && m_remember->isChecked())
        m_secrets->write(m_secretKey, m_pendingPassword);
}

void RemoteConsole::append(const QString &text) { m_output->appendPlainText(text); }

bool RemoteConsole::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_command && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && !m_history.isEmpty()) {
            m_historyAt =
                qBound(0, m_historyAt + (key == Qt::Key_Up ? -1 : 1), int(m_history.size()));
            m_command->setText(m_history.value(m_historyAt));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tarvex
