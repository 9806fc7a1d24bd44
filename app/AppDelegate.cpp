#include "app/AppDelegate.h"

#include "app/TelemetrySetup.h"
#include "app/WindowController.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "telemetry/TrackManager.h"
#include "ui/TavProgressHUD.h"

#include <QApplication>
#include <QFileOpenEvent>
#include <QIcon>

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
{
    // The window icon is set first so that every window, sheets included, shows it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zavrin.svg")));
    Panels::setShared(&m_panels);
    TavProgressHUD::installAsPresenter();
    m_windowController = new WindowController;
    qApp->installEventFilter(this);
}

AppDelegate::~AppDelegate()
{
    HUD::setPresenter(nullptr);
    Panels::setShared(nullptr);
    delete m_windowController;
}

void AppDelegate::applicationDidFinishLaunching(const QStringList& documents)
{
    m_windowController->showWindow();
    TelemetrySetup::install();
    TrackManager::initialWithLaunchOptions({});
    TrackManager::TrackLaunch();
    if (!documents.isEmpty())
        openFiles(documents);
}

void AppDelegate::openFiles(const QStringList& paths)
{
    qCInfo(lcApp, "打开的文件: %s", qUtf8Printable(paths.join(QStringLiteral(", "))));
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FileOpen) {
        openFiles({static_cast<QFileOpenEvent*>(event)->file()});
        return true;
    }
    return QObject::eventFilter(watched, event);
}
