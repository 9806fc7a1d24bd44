#include "app/cli/JobRunner.h"

#include "app/cli/TerminalOutput.h"
#include "engine/NotifyManager.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QObject>

namespace Cli {

int runJob(const std::function<void()>& start, const QString& jobKey)
{
    QObject observers;
    bool succeeded = false;
    QString reason;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    auto onProgress = [&jobKey](const Notification& notification) {
        // 7z progress may come from a worker: draw on the main thread.
        if (notification.object.value(NotifyManager::pathKey()).toString() != jobKey)
            return;
        const double fraction = notification.object.value(NotifyManager::progressKey()).toDouble();
        if (MainQueue::isMainThread())
            TerminalOutput::progress(fraction);
        else
            MainQueue::async([fraction] { TerminalOutput::progress(fraction); });
    };
    center.addObserver(NotifyManager::UnzipProgress(), &observers, onProgress);
    center.addObserver(NotifyManager::ZipProgress(), &observers, onProgress);
    center.addObserver(NotifyManager::JobDidEnd(), &observers, [&](const Notification& notification) {
        if (notification.object.value(NotifyManager::pathKey()).toString() != jobKey)
            return;
        succeeded = notification.object.value(NotifyManager::succeededKey()).toBool();
        reason = notification.object.value(NotifyManager::reasonKey()).toString();
        QCoreApplication::exit(0);
    });
    MainQueue::async(start);
    QCoreApplication::exec();
    TerminalOutput::clearProgress();
    if (!succeeded && !reason.isEmpty())
        TerminalOutput::line(QStringLiteral("zavrin-cli: ") + reason);
    return succeeded ? 0 : 1;
}

} // namespace Cli
