#include "platform/Workspace.h"

#include "platform/Logging.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>

namespace {

Workspace* g_workspace = nullptr;

bool showItemsOverDBus(const QString& method, const QString& path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    if (!bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusMessage call
        = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"), service, method);
    call << QStringList { QUrl::fromLocalFile(path).toString() } << QString();
    return bus.send(call);
}

bool openWithDesktopHandler(const QString& target)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), { target });
}

} // namespace

Workspace::~Workspace() = default;

void Workspace::openInFileManager(const QString& path)
{
    const QFileInfo info(path);
    const bool isFolder = info.isDir();
    if (showItemsOverDBus(isFolder ? QStringLiteral("ShowFolders") : QStringLiteral("ShowItems"), path))
        return;
    const QString folder = isFolder ? info.absoluteFilePath() : info.absolutePath();
    if (!openWithDesktopHandler(folder))
        qCWarning(lcPlatform) << "could not open in the file manager:" << path;
}

bool Workspace::openUrl(const QUrl& url)
{
    if (openWithDesktopHandler(url.toString()))
        return true;
    qCWarning(lcPlatform) << "could not open address:" << url;
    return false;
}

Workspace& Workspace::shared()
{
    static Workspace desktop;
    return g_workspace ? *g_workspace : desktop;
}

void Workspace::setShared(Workspace* workspace)
{
    g_workspace = workspace;
}
