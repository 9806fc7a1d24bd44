// A run of the application that quits in the middle of real jobs, the way
// a user closes the main window while jobs go on: the real AppDelegate and
// window, the real engine. The jobs start through ZipManager, as the
// progress sheet starts them.
//
//     zavrin-quit-mid-job ARCHIVE.zip OUT-FOLDER NEW-ARCHIVE.zip ITEM...
//
// Extracts ARCHIVE.zip into OUT-FOLDER and packs the ITEMs into
// NEW-ARCHIVE.zip; as soon as both have their temporaries on the disk it
// prints "closing" and closes the main window. Its exit status is the
// application's.
#include "app/AppDelegate.h"
#include "app/WindowController.h"
#include "engine/ZipManager.h"
#include "platform/Bundle.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

namespace {

bool hasHidden(const QString& folder, const QString& pattern)
{
    return !QDir(folder).entryList({ pattern }, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(Bundle::organizationName());
    QApplication::setApplicationName(Bundle::applicationName());
    QApplication::setQuitOnLastWindowClosed(true);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 5)
        return 2;
    const QString archive = arguments.at(1);
    const QString out = arguments.at(2);
    const QString newArchive = arguments.at(3);
    QList<FileModel> items;
    for (const QString& item : arguments.mid(4))
        items.append(FileModel(item));

    AppDelegate delegate;
    QTimer::singleShot(0, &delegate, [&] {
        delegate.applicationDidFinishLaunching({});
        ZipManager::shared().unzipFileAtPath(archive, out);
        ZipManager::shared().zipFileAtPath(newArchive, items, std::nullopt, false);
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &delegate, [&] {
        const QString newName = QFileInfo(newArchive).fileName();
        if (!hasHidden(out, QStringLiteral(".zavrin-*"))
            || !hasHidden(QFileInfo(newArchive).path(), u'.' + newName + QStringLiteral(".*")))
            return;
        poll.stop();
        std::puts("closing");
        std::fflush(stdout);
        delegate.windowController()->close();
    });
    poll.start(2);
    return QApplication::exec();
}
