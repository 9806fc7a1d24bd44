#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>

class Defaults;
class QStandardItemModel;
class QWidget;
struct Notification;

// What the two analytics debug windows share: from the moment it is made, the
// controller collects every "AnalyticsEvent" of the process, newest first, and
// shows them in a table (one column per hit key) in its window, which is
// built on first use. Notifications may come from any thread; the events are
// inserted on the main thread. Made on the main thread.
class AnalyticsDebugWindowController : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AnalyticsDebugWindowController)

public:
    ~AnalyticsDebugWindowController() override;

    // Whether "ShowDebugMenu" is on in `defaults`.
    static bool isDebugMenuEnabled(const Defaults& defaults);

    // The collected events, newest first.
    QList<QVariantMap> eventsArray() const { return m_eventsArray; }
    // The table's model: one row per event, newest first.
    QStandardItemModel* eventsArrayController() const { return m_eventsArrayController; }
    // The window, built on the first call.
    QWidget* window();
    bool isWindowLoaded() const { return m_window != nullptr; }
    // Shows and raises the window.
    void show();

    // Takes one notification; called by the notification centre.
    void analyticsReceived(const Notification& notification);

    static inline const QString kShowDebugMenuKey = QStringLiteral("ShowDebugMenu");
    static inline const QString kAnalyticsEventNotification = QStringLiteral("AnalyticsEvent");

protected:
    // `stayOnTop` keeps the window above normal windows.
    explicit AnalyticsDebugWindowController(bool stayOnTop, QObject* parent = nullptr);

private:
    void insertEvent(const QVariantMap& event);
    int columnForKey(const QString& key);

    bool m_stayOnTop = false;
    QList<QVariantMap> m_eventsArray;
    QStandardItemModel* m_eventsArrayController = nullptr;
    std::unique_ptr<QWidget> m_window;
};
