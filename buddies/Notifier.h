#pragma once

#include <QObject>
#include <QString>

class QSystemTrayIcon;

// Shows a short desktop message: through the freedesktop notification service on the
// session bus when one is there, else as a tray balloon when the desktop has a tray,
// else not at all.
namespace tarvex::buddies {

class Notifier : public QObject
{
    Q_OBJECT

public:
    enum class Channel { DBus, Tray, None };

    explicit Notifier(QObject *parent = nullptr);
    ~Notifier() override;

    // The way the next message would go (checked afresh each time).
    Channel channel() const;
    // Sends the message; returns the way it went.
    Channel notify(const QString &title, const QString &body);

private:
    QSystemTrayIcon *m_tray = nullptr;
};

} // namespace tarvex::buddies
