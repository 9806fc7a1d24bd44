// A run of the application that quits in the middle of real jobs, the way
// a user closes the main window while jobs go on: the real AppDelegate and
// window, the real engine. The jobs start through ZipManager, as the
// progress sheet starts them.
//
//     zavrin-quit-mid-job close|wait ARCHIVE.zip OUT-FOLDER NEW-ARCHIVE.zip ITEM...
//
// Extracts ARCHIVE.zip into OUT-FOLDER and packs the ITEMs into
// NEW-ARCHIVE.zip; as soon as both have temporaries on the disk, and one
// entry of the extraction is complete, it
// prints "mid-job" and, with "close", closes the main window (with "wait"
// it waits for a signal). Its exit status is the application's, as main
// makes it.
#include "app/AppDelegate.h"
#include "app/WindowController.h"
#include "engine/ZipManager.h"
#include "platform/Bundle.h"
#include "platform/Interrupts.h"
#include "tests/support/MidJob.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    AppDelegate::quitOnSignals();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(Bundle::organizationName());
    QApplication::setApplicationName(Bundle::applicationName());
    QApplication::setQuitOnLastWindowClosed(true);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 6)
        return 2;
    const bool close = arguments.at(1) == u"close";
    const QString archive = arguments.at(2);
    const QString out = arguments.at(3);
    const QString newArchive = arguments.at(4);
    QList<FileModel> items;
    for (const QString& item : arguments.mid(5))
        items.append(FileModel(item));

    AppDelegate delegate;
    // The compression (at level 9, the slow one) first; the extraction once
    // the archive's temporary is there, so that both are under way.
    QTimer::singleShot(0, &delegate, [&] {
        delegate.applicationDidFinishLaunching({});
        ZipManager::shared().zipFileAtPath(newArchive, items, std::nullopt, false);
    });
    bool extracting = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &delegate, [&] {
        if (!extracting) {
            if (!MidJob::leftIn(QFileInfo(newArchive).path(), u'.' + QFileInfo(newArchive).fileName() + u".*"_s)
                     .isEmpty()) {
                extracting = true;
                ZipManager::shared().unzipFileAtPath(archive, out);
            }
            return;
        }
        // One entry complete and the next under way.
        if (!MidJob::writesIn(QCoreApplication::applicationPid(), out) || QDir(out).entryList(QDir::Files).isEmpty())
            return;
        poll.stop();
        std::puts("mid-job");
        std::fflush(stdout);
        if (close)
            delegate.windowController()->close();
    });
    poll.start(2);
    const int status = QApplication::exec();
    Interrupts::disarm();
    return Interrupts::exitStatus(status);
}
