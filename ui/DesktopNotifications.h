#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <functional>

// Desktop notifications through the org.freedesktop.Notifications service
// on the session bus. A notification may carry one action, run when the
// user clicks it. Without a bus or a notification service nothing is shown
// and nothing fails: the call is logged. Main thread only.
class DesktopNotifications final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesktopNotifications)

public:
    static DesktopNotifications& shared();

    // Shows `summary` (plain text) over `body` (plain text, escaped for the
    // servers that read markup). With `activate` set, the notification
    // offers `actionLabel` and runs `activate` once when it or the
    // notification itself is clicked. Returns at once.
    void notify(
        const QString& summary, const QString& body, const QString& actionLabel, std::function<void()> activate);

    // The bus to talk to; the session bus unless a test gives its own.
    void setConnection(const QDBusConnection& connection);
    // Notifications sent and not yet answered or closed, for tests.
    int pendingActions() const { return static_cast<int>(m_actions.size()); }

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    DesktopNotifications();
    void subscribe();

    QDBusConnection m_bus;
    bool m_subscribed = false;
    QHash<uint, std::function<void()>> m_actions;
};
