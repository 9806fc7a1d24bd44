#include "app/cli/JobRunner.h"

#include "app/cli/TerminalOutput.h"
#include "engine/JobReasons.h"
#include "engine/NotifyManager.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QObject>

namespace Cli {

JobEnd runJob(const std::function<void()>& start, const QString& jobKey)
{
    QObject observers;
    JobEnd end;
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
        const QVariantMap& object = notification.object;
        if (object.value(NotifyManager::pathKey()).toString() != jobKey)
            return;
        end.succeeded = object.value(NotifyManager::succeededKey()).toBool();
        end.status = object.value(NotifyManager::statusKey()).toString();
        end.subject = object.value(NotifyManager::subjectKey()).toString();
        end.reason = object.value(NotifyManager::reasonKey()).toString();
        end.kept = object.value(NotifyManager::keptKey()).toInt();
        end.written = object.value(NotifyManager::writtenKey()).toInt();
        end.keptNames = object.value(NotifyManager::keptNamesKey()).toStringList();
        QCoreApplication::exit(0);
    });
    MainQueue::async(start);
    QCoreApplication::exec();
    TerminalOutput::clearProgress();
    return end;
}

int report(const JobEnd& end, bool verbose)
{
    if (end.succeeded) {
        if (const QString kept = JobReasons::keptText(end.kept, end.written); !kept.isEmpty())
            TerminalOutput::line(QStringLiteral("zavrin-cli: ") + kept);
        if (verbose) {
            for (const QString& name : end.keptNames)
                TerminalOutput::line(QStringLiteral("  kept ") + name);
            if (end.kept > end.keptNames.size())
                TerminalOutput::line(QStringLiteral("  … and %1 more").arg(end.kept - end.keptNames.size()));
        }
        return 0;
    }
    QString text = JobReasons::text(end.status, end.subject);
    if (!end.reason.isEmpty())
        text = text.isEmpty() ? end.reason : text + QStringLiteral(" (") + end.reason + u')';
    if (!text.isEmpty())
        TerminalOutput::line(QStringLiteral("zavrin-cli: ") + text);
    return 1;
}

} // namespace Cli
