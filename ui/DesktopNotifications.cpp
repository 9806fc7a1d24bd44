#include "ui/DesktopNotifications.h"

#include "platform/Bundle.h"
#include "platform/Logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// "default" is what servers send for a click on the notification itself.
const QString kDefaultAction = QStringLiteral("default");
constexpr int kServerDefaultTimeout = -1;

} // namespace

DesktopNotifications& DesktopNotifications::shared()
{
    static DesktopNotifications instance;
    return instance;
}

DesktopNotifications::DesktopNotifications()
    : m_bus(QDBusConnection::sessionBus())
{
}

void DesktopNotifications::setConnection(const QDBusConnection& connection)
{
    m_bus = connection;
    m_subscribed = false;
    m_actions.clear();
}

void DesktopNotifications::subscribe()
{
    if (m_subscribed)
        return;
    m_subscribed = true;
    m_bus.connect(
        kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint)));
}

void DesktopNotifications::notify(
    const QString& summary, const QString& body, const QString& actionLabel, std::function<void()> activate)
{
    if (!m_bus.isConnected()) {
        qCInfo(lcUi, "no session bus; not notified: %s", qUtf8Printable(summary));
        return;
    }
    subscribe();
    QStringList actions;
    if (activate)
        actions << kDefaultAction << actionLabel;
    QVariantMap hints;
    // Lets the desktop file the notification under the application.
    hints.insert(QStringLiteral("desktop-entry"), Bundle::identifier());
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QGuiApplication::applicationDisplayName() << uint(0) << QStringLiteral("zavrin") << summary
         << body.toHtmlEscaped() << actions << hints << kServerDefaultTimeout;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, activate = std::move(activate)] {
            watcher->deleteLater();
            const QDBusPendingReply<uint> reply = *watcher;
            if (reply.isError()) {
                // No notification service: the job's end is still in the log.
                qCInfo(lcUi, "notification not shown (%s): %s", qUtf8Printable(reply.error().name()),
                    qUtf8Printable(summary));
                return;
            }
            if (activate)
                m_actions.insert(reply.value(), activate);
        });
}

void DesktopNotifications::onActionInvoked(uint id, const QString& action)
{
    Q_UNUSED(action)
    // One action per notification: a click anywhere on it means it.
    const std::function<void()> activate = m_actions.take(id);
    if (activate)
        activate();
}

void DesktopNotifications::onNotificationClosed(uint id, uint reason)
{
    Q_UNUSED(reason)
    m_actions.remove(id);
}
