#include "app/AppDelegate.h"

#include "app/TelemetrySetup.h"
#include "app/WindowController.h"
#include "engine/StopToken.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Interrupts.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "screens/PreviewFolder.h"
#include "telemetry/TrackManager.h"
#include "ui/TavProgressHUD.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QUrl>
#include <cstdlib>

namespace {

constexpr int kStopWaitMs = 30000;

} // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
{
    // The window icon is set first so that every window, sheets included, shows it.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zavrin.svg")));
    Panels::setShared(&m_panels);
    DialogPanels::installQtTranslations();
    TavProgressHUD::installAsPresenter();
    m_windowController = new WindowController;
    qApp->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
}

AppDelegate::~AppDelegate()
{
    HUD::setPresenter(nullptr);
    Panels::setShared(nullptr);
    delete m_windowController;
}

void AppDelegate::applicationDidFinishLaunching(const LaunchArguments& launch)
{
    m_windowController->showWindow();
    TelemetrySetup::install();
    TrackManager::initialWithLaunchOptions({});
    TrackManager::TrackLaunch();
    // What the command line asked for waits until the window is placed.
    openLaunch(launch);
}

void AppDelegate::quitOnSignals()
{
    // The handler runs on the signal thread; before the application exists
    // there is nothing to clean up.
    Interrupts::install([](int signal) {
        if (QCoreApplication* application = QCoreApplication::instance())
            QMetaObject::invokeMethod(application, &QCoreApplication::quit, Qt::QueuedConnection);
        else
            std::_Exit(128 + signal);
    });
}

void AppDelegate::applicationWillTerminate()
{
    // Jobs end by themselves once asked; what they queue for the main
    // thread meanwhile is never run, as the event loop is over.
    StopToken::stopAll();
    if (!WorkerPool::waitForDone(kStopWaitMs)) {
        // Never expected; leaving at once beats destroying what workers use.
        qCCritical(lcApp, "jobs did not stop within %d ms; leaving without cleaning up", kStopWaitMs);
        std::_Exit(1);
    }
    // Entries opened from the preview are copies that live as long as the program.
    PreviewFolder::remove();
}

bool AppDelegate::openFile(const QString& path)
{
    qCInfo(lcApp, "打开的文件: %s", qUtf8Printable(path));
    route(path);
    return true;
}

void AppDelegate::openFiles(const QStringList& paths)
{
    qCInfo(lcApp, "打开的文件: %s", qUtf8Printable(paths.join(QStringLiteral(", "))));
    if (!paths.isEmpty())
        route(paths.first());
}

void AppDelegate::openFilesFromAnotherLaunch(const QStringList& paths)
{
    m_windowController->showWindow();
    if (!paths.isEmpty())
        openFiles(paths);
}

void AppDelegate::openLaunch(const LaunchArguments& launch)
{
    tellRefused(launch.refused);
    if (launch.paths.isEmpty())
        return;
    if (launch.action == LaunchArguments::Action::Open) {
        openFiles(launch.paths);
        return;
    }
    qCInfo(lcApp, "打开的文件: %s", qUtf8Printable(launch.paths.join(QStringLiteral(", "))));
    for (const DocumentQueue::Request& request : DocumentQueue::requestsOf(launch))
        m_windowController->routeRequest(request);
}

void AppDelegate::openLaunchFromAnotherLaunch(const LaunchArguments& launch)
{
    m_windowController->showWindow();
    openLaunch(launch);
}

void AppDelegate::tellRefused(const QStringList& refused)
{
    // Acting on the decoded name would act on another file, or none.
    for (const QString& argument : refused)
        qCWarning(lcApp, "refused a path that is not valid text in file names: %s", qUtf8Printable(argument));
    if (!refused.isEmpty())
        HUD::showErrorWithStatus(L(QStringLiteral("文件名含有无法识别的字符，未打开")));
}

void AppDelegate::route(const QString& path)
{
    // A path that makes no file address is dropped without a word.
    if (path.isEmpty())
        return;
    m_windowController->routeDocument(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

namespace {

bool isQuitKey(const QKeyEvent* event)
{
    return event->matches(QKeySequence::Quit)
        || (event->key() == Qt::Key_Q && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier);
}

} // namespace

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::FileOpen:
        openFile(static_cast<QFileOpenEvent*>(event)->file());
        return true;
    case QEvent::KeyPress:
        // Ctrl+Q quits from every window, sheets and the feedback window
        // included, where the main window's own shortcuts do not reach. It is
        // spelled out: desktops without a key scheme bind no Quit sequence.
        if (isQuitKey(static_cast<QKeyEvent*>(event))) {
            QCoreApplication::quit();
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
