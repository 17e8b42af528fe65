#include "buddies/Notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace tarvex::buddies {

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
constexpr int ExpireMs = 8000;
} // namespace

Notifier::Notifier(QObject *parent)
    : QObject(parent)
{ }

Notifier::~Notifier() = default;

Notifier::Channel Notifier::channel() const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(Service).value())
        return Channel::DBus;
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return Channel::Tray;
    return Channel::None;
}

Notifier::Channel Notifier::notify(const QString &title, const QString &body)
{
    const Channel way = channel();
    if (way == Channel::DBus) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
        // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, timeout);
        // sent without waiting for the answer, so a slow service never holds the window.
        call << QStringLiteral("Tarvex") << uint(0) << QStringLiteral("org.tarvex.Tarvex") << title
             << body << QStringList() << QVariantMap() << ExpireMs;
        QDBusConnection::sessionBus().send(call);
    } else if (way == Channel::Tray) {
        if (!m_tray) {
            m_tray = new QSystemTrayIcon(QGuiApplication::windowIcon(), this);
            m_tray->setToolTip(QStringLiteral("Tarvex"));
        }
        m_tray->show();
        m_tray->showMessage(title, body, QSystemTrayIcon::Information, ExpireMs);
    }
    return way;
}

} // namespace tarvex::buddies
