#include "app/WindowController.h"

#include "home/MainController.h"
#include "platform/Bundle.h"
#include "platform/Logging.h"
#include "ui/AnalyticsDebugWindowController.h"
#include "ui/ViewController.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {
// Room for both targets side by side in either language.
constexpr int kWindowWidth = 720;
constexpr int kWindowHeight = 520;
} // namespace

WindowController::WindowController(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(L(QStringLiteral("Zavrin")));
    m_homeScreen = new MainController(this);
    setCentralWidget(m_homeScreen);
    connect(this, &WindowController::showUnzipRequested, m_homeScreen, &MainController::showUnzip);
    connect(this, &WindowController::extractHereRequested, m_homeScreen, &MainController::extractHere);
    connect(this, &WindowController::showZipRequested, m_homeScreen, &MainController::showZip);
    connect(m_homeScreen, &MainController::panelClosed, this, &WindowController::drainLater);
    resize(kWindowWidth, kWindowHeight);
    setMinimumSize(minimumSizeHint());
    addDebugMenu();
    // Windows closing, this one mapped, activated or restored: the moments
    // the home screen may have become key again.
    qApp->installEventFilter(this);
}

void WindowController::addDebugMenu()
{
    // The window is made at start-up, so asking for the debug controllers
    // here lets them collect from the first event on. They exist only while
    // "ShowDebugMenu" is on, and so does the menu.
    auto* onTop = MPAnalyticsDebugWindowController::sharedController();
    auto* normal = MMAnalyticsDebugWindowController::sharedController();
    if (!onTop || !normal)
        return;
    QMenu* menu = menuBar()->addMenu(L(QStringLiteral("调试")));
    menu->setObjectName(QStringLiteral("debugMenu"));
    QAction* show
        = menu->addAction(L(QStringLiteral("分析事件")), this, [] { MPAnalyticsDebugWindowController::showWindow(); });
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    menu->addAction(
        L(QStringLiteral("分析事件（普通窗口）")), this, [] { MMAnalyticsDebugWindowController::showWindow(); });
}

WindowController::~WindowController() = default;

void WindowController::showWindow()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    // A sheet or modal window up over the window comes forward with it and
    // takes the activation: raising the window alone would put it over its
    // sheets where no window manager keeps them on top.
    QWidget* front = this;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window != this && window->isVisible() && window->isModal()) {
            window->raise();
            front = window;
        }
    }
    front->activateWindow();
}

namespace {
constexpr int kDrainRetryMs = 100;
} // namespace

bool WindowController::homeScreenIsKey() const
{
    // Until the window manager has mapped and placed the window a sheet
    // would open wherever the window happens to be, at the screen's corner.
    // Once shown on the screen it stays placed, whatever covers it later
    // (a busy X server may leave it marked unexposed for long stretches).
    if (!isVisible() || isMinimized() || !m_placed || QApplication::activeModalWidget())
        return false;
    if (m_homeScreen->isBusy())
        return false;
    // Sheets and the feedback window are screens of their own and cover the
    // home screen while up; free windows such as the debug windows do not.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget* window : windows) {
        if (window != this && window->isVisible() && (window->isModal() || qobject_cast<const ViewController*>(window)))
            return false;
    }
    return true;
}

void WindowController::routeDocument(const QUrl& url)
{
    routeRequest({ LaunchArguments::Action::Open, { url.toLocalFile() } });
}

void WindowController::routeRequest(const DocumentQueue::Request& request)
{
    // Earlier requests go first.
    if (m_waiting.isEmpty() && homeScreenIsKey()) {
        dispatch(request);
        return;
    }
    if (m_waiting.enqueue(request))
        qCInfo(lcApp, "document waits for the home screen: %s", qUtf8Printable(request.paths.join(u", ")));
    drainLater();
}

void WindowController::dispatch(const DocumentQueue::Request& request)
{
    switch (request.action) {
    case LaunchArguments::Action::Open:
        emit showUnzipRequested(QUrl::fromLocalFile(request.paths.value(0)));
        break;
    case LaunchArguments::Action::ExtractHere:
        emit extractHereRequested(QUrl::fromLocalFile(request.paths.value(0)));
        break;
    case LaunchArguments::Action::Compress: {
        QList<QUrl> urls;
        for (const QString& path : request.paths)
            urls.append(QUrl::fromLocalFile(path));
        emit showZipRequested(urls);
        break;
    }
    }
}

void WindowController::drainLater()
{
    if (m_drainQueued || m_waiting.isEmpty())
        return;
    m_drainQueued = true;
    // After the turn that closed a sheet, which may present the next one.
    QTimer::singleShot(0, this, [this] {
        m_drainQueued = false;
        drain();
    });
}

void WindowController::drain()
{
    // A request that opens no sheet (a file of another type) lets the next go.
    while (!m_waiting.isEmpty() && homeScreenIsKey())
        dispatch(*m_waiting.takeNext());
    // The events above come in whatever order the window manager and the
    // system's load give them; until the queue is empty, look again now and
    // then rather than wait on one that came before it could count.
    if (!m_waiting.isEmpty() && !m_drainQueued) {
        m_drainQueued = true;
        QTimer::singleShot(kDrainRetryMs, this, [this] {
            m_drainQueued = false;
            drain();
        });
    }
}

bool WindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed())
        m_placed = true;
    if (!m_waiting.isEmpty()) {
        switch (event->type()) {
        case QEvent::Hide:
        case QEvent::Close:
        case QEvent::Expose:
        case QEvent::WindowActivate:
        case QEvent::WindowStateChange:
            if (watched == this || watched == windowHandle()
                || (watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()))
                drainLater();
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void WindowController::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    // The program is this window: other windows (the debug windows) go with it.
    if (event->isAccepted())
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
