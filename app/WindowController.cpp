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
#include <QWidget>

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
    resize(kWindowWidth, kWindowHeight);
    setMinimumSize(minimumSizeHint());
    addDebugMenu();
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

bool WindowController::homeScreenIsKey() const
{
    if (!isVisible() || isMinimized() || QApplication::activeModalWidget())
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
    if (!homeScreenIsKey()) {
        qCDebug(lcApp, "document ignored while another screen is up");
        return;
    }
    emit showUnzipRequested(url);
}

void WindowController::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    // The program is this window: other windows (the debug windows) go with it.
    if (event->isAccepted())
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
