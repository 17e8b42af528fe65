#pragma once

#include "core/rcon/RconClient.h"

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tarvex {

class SecretStore;

// The remote console of one server: a password field, a command line with a history
// on the Up and Down keys, and the server's answers in an output pane.
class RemoteConsole : public QWidget
{
    Q_OBJECT

public:
    RemoteConsole(const QHostAddress &address, quint16 port, QWidget *parent = nullptr);

    RconClient *client() { return &m_client; }
    QStringList history() const { return m_history; }
    QString output() const;

    // Sends what the command line holds, as the Send button does.
    void sendCommand();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showAnswer(RconClient::Result result, const QString &text);
    void append(const QString &text);

    RconClient m_client;
    SecretStore *m_secrets;
    QString m_secretKey;
    QLineEdit *m_password;
    QCheckBox *m_remember;
    QPlainTextEdit *m_output;
    QLineEdit *m_command;
    QPushButton *m_send;
    QStringList m_history;
    int m_historyAt = 0; // m_history.size(): the line being written
    QString m_pendingPassword;
};

} // namespace tarvex
