#include "app/AppDelegate.h"
#include "platform/Bundle.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(Bundle::organizationName());
    QApplication::setApplicationName(Bundle::applicationName());
    QApplication::setApplicationVersion(Bundle::shortVersion());
    QApplication::setApplicationDisplayName(Bundle::displayName());
    QApplication::setDesktopFileName(Bundle::identifier());
    QApplication::setQuitOnLastWindowClosed(true);

    AppDelegate delegate;
    const QStringList documents = QApplication::arguments().mid(1);
    QTimer::singleShot(0, &delegate, [&delegate, documents] { delegate.applicationDidFinishLaunching(documents); });
    return QApplication::exec();
}
