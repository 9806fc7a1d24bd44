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

// An analytics debug window: from the moment it is made, the controller
// collects every "AnalyticsEvent" of the process, newest first, and shows
// them in a table (one column per hit key) in its window, which is built on
// first use. Notifications may come from any thread; the events are inserted
// on the main thread. Made on the main thread.
class AnalyticsDebugWindowController final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AnalyticsDebugWindowController)

public:
    enum class Level {
        Normal,
        StaysOnTop, // above normal windows
    };

    explicit AnalyticsDebugWindowController(Level level, QObject* parent = nullptr);
    ~AnalyticsDebugWindowController() override;

    // A controller when "ShowDebugMenu" is on in `defaults`, else none.
    static std::unique_ptr<AnalyticsDebugWindowController> makeIfEnabled(const Defaults& defaults, Level level);
    // The process's controller of `level`, or nullptr when "ShowDebugMenu"
    // is off (read once). The first call should come from the main thread.
    static AnalyticsDebugWindowController* sharedController(Level level);
    // Shows the shared controller's window; nothing when there is none.
    static void showWindow(Level level);

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

private:
    void insertEvent(const QVariantMap& event);
    int columnForKey(const QString& key);

    Level m_level = Level::Normal;
    QList<QVariantMap> m_eventsArray;
    QStandardItemModel* m_eventsArrayController = nullptr;
    std::unique_ptr<QWidget> m_window;
};

// The two debug windows of the Debug menu: one kept above normal windows,
// its twin at the normal level. They exist only while "ShowDebugMenu" is on.
template <AnalyticsDebugWindowController::Level kLevel> struct AnalyticsDebugWindow final {
    static AnalyticsDebugWindowController* sharedController()
    {
        return AnalyticsDebugWindowController::sharedController(kLevel);
    }
    static void showWindow() { AnalyticsDebugWindowController::showWindow(kLevel); }
    static std::unique_ptr<AnalyticsDebugWindowController> makeIfEnabled(const Defaults& defaults)
    {
        return AnalyticsDebugWindowController::makeIfEnabled(defaults, kLevel);
    }
};
using MPAnalyticsDebugWindowController = AnalyticsDebugWindow<AnalyticsDebugWindowController::Level::StaysOnTop>;
using MMAnalyticsDebugWindowController = AnalyticsDebugWindow<AnalyticsDebugWindowController::Level::Normal>;
