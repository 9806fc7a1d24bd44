#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "platform/Bundle.h"
#include "platform/Interrupts.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    AppDelegate::quitOnSignals();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(Bundle::organizationName());
    QApplication::setApplicationName(Bundle::applicationName());
    QApplication::setApplicationVersion(Bundle::shortVersion());
    QApplication::setApplicationDisplayName(Bundle::displayName());
    QApplication::setDesktopFileName(Bundle::identifier());
    QApplication::setQuitOnLastWindowClosed(true);

    // The file manager starts "zavrin FILE..." (or "--extract-here",
    // "--compress"). A running Zavrin takes the request instead, and this
    // launch ends there. The arguments are read as bytes from argv, which
    // QApplication has rid of its own options: its decoded copy could name
    // another file.
    const LaunchArguments launch = LaunchArguments::fromArgv(argc, argv);
    SingleInstance instance;
    if (instance.start(launch) == SingleInstance::Role::HandedOver) {
        Interrupts::disarm();
        return 0;
    }

    AppDelegate delegate;
    QObject::connect(&instance, &SingleInstance::launchReceived, &delegate, &AppDelegate::openLaunchFromAnotherLaunch);
    QTimer::singleShot(0, &delegate, [&delegate, launch] { delegate.applicationDidFinishLaunching(launch); });
    const int status = QApplication::exec();
    Interrupts::disarm();
    return Interrupts::exitStatus(status);
}
