#include "app/WindowController.h"

#include "platform/Bundle.h"
#include "ui/MMAnalyticsDebugWindowController.h"
#include "ui/MPAnalyticsDebugWindowController.h"

#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

WindowController::WindowController(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(L(QStringLiteral("Zavrin")));
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("contentWidget"));
    content->setAutoFillBackground(true);
    QPalette palette = content->palette();
    palette.setColor(QPalette::Window, Qt::white);
    content->setPalette(palette);
    setCentralWidget(content);
    resize(720, 480);
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
    show();
    raise();
    activateWindow();
}
