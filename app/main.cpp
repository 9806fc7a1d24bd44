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

    // The file manager starts "zavrin FILE...". A running Zavrin takes the
    // documents instead, and this launch ends there.
    const QStringList documents = AppDelegate::documentPaths(QApplication::arguments().mid(1));
    SingleInstance instance;
    if (instance.start(documents) == SingleInstance::Role::HandedOver) {
        Interrupts::disarm();
        return 0;
    }

    AppDelegate delegate;
    QObject::connect(
        &instance, &SingleInstance::documentsReceived, &delegate, &AppDelegate::openFilesFromAnotherLaunch);
    QTimer::singleShot(0, &delegate, [&delegate, documents] { delegate.applicationDidFinishLaunching(documents); });
    const int status = QApplication::exec();
    Interrupts::disarm();
    return Interrupts::exitStatus(status);
}
