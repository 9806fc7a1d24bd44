#pragma once

// Helpers of the engine's job tests: a log of one job's notifications and a
// snapshot of a folder tree.
#include "engine/NotifyManager.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QTest>
#include <memory>
#include <optional>
#include <unistd.h>

// Records the notifications of the job keyed by `path`, with the thread and
// time of posting. Observers may run on worker threads, hence the lock.
class JobLog final {
public:
    struct Event {
        QString name;
        QVariantMap object;
        bool mainThread = false;
        qint64 atMs = 0;
    };

    explicit JobLog(const QString& path)
        : m_path(path)
        , m_context(std::make_unique<QObject>())
    {
        m_clock.start();
        for (const QString& name : { NotifyManager::UnzipProgress(), NotifyManager::ZipProgress(),
                 NotifyManager::LocalFilesDidChange(), NotifyManager::ProcessCancel(), NotifyManager::JobDidEnd() }) {
            NotificationCenter::defaultCenter().addObserver(name, m_context.get(), [this](const Notification& n) {
                if (n.object.value(NotifyManager::pathKey()).toString() != m_path)
                    return;
                QMutexLocker lock(&m_mutex);
                m_events.append({ n.name, n.object, MainQueue::isMainThread(), m_clock.elapsed() });
            });
        }
    }

    bool waitForEnd(int timeoutMs = 30000)
    {
        return QTest::qWaitFor([this] { return count(NotifyManager::JobDidEnd()) > 0; }, timeoutMs);
    }

    QList<Event> events() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }
    int count(const QString& name) const
    {
        int n = 0;
        for (const Event& event : events())
            n += event.name == name;
        return n;
    }
    std::optional<Event> first(const QString& name) const
    {
        QMutexLocker lock(&m_mutex);
        for (const Event& event : m_events) {
            if (event.name == name)
                return event;
        }
        return std::nullopt;
    }
    bool succeeded() const
    {
        const std::optional<Event> end = first(NotifyManager::JobDidEnd());
        return end && end->object.value(NotifyManager::succeededKey()).toBool();
    }
    // What the job's end says under `key` (status, reason, output, kept).
    QVariant end(const QString& key) const
    {
        const std::optional<Event> last = first(NotifyManager::JobDidEnd());
        return last ? last->object.value(key) : QVariant();
    }
    QString status() const { return end(NotifyManager::statusKey()).toString(); }
    QString reason() const { return end(NotifyManager::reasonKey()).toString(); }
    int kept() const { return end(NotifyManager::keptKey()).toInt(); }
    // The progress reported, in order.
    QList<double> progress() const
    {
        QList<double> values;
        for (const Event& event : events()) {
            if (event.name == NotifyManager::UnzipProgress() || event.name == NotifyManager::ZipProgress())
                values.append(event.object.value(NotifyManager::progressKey()).toDouble());
        }
        return values;
    }
    // Progress moved inside the job at least `inside` times, strictly
    // forward, and ended at 1.
    bool progressedWithin(int inside) const
    {
        const QList<double> values = progress();
        const auto within = std::count_if(values.cbegin(), values.cend(), [](double p) { return p > 0 && p < 1; });
        const bool moved = within >= inside && !values.isEmpty() && values.last() == 1.0
            && std::adjacent_find(values.cbegin(), values.cend(), std::greater_equal<>()) == values.cend();
        if (!moved)
            qWarning("progress reported %d times, %d inside", int(values.size()), int(within));
        return moved;
    }
    // The names of the events other than progress, in order.
    QStringList names() const
    {
        QStringList list;
        for (const Event& event : events()) {
            if (event.name != NotifyManager::UnzipProgress() && event.name != NotifyManager::ZipProgress())
                list.append(event.name);
        }
        return list;
    }
    // The job's end came once, and everything was posted on the main thread.
    bool endedOnceOnMain() const
    {
        const QList<Event> all = events();
        return count(NotifyManager::JobDidEnd()) == 1
            && std::all_of(all.cbegin(), all.cend(), [](const Event& event) { return event.mainThread; });
    }
    qint64 elapsed() const { return m_clock.elapsed(); }

private:
    QString m_path;
    mutable QMutex m_mutex;
    QList<Event> m_events;
    QElapsedTimer m_clock;
    // Last, so that it goes first: its observers are removed (and a handler
    // running on a worker is waited for) before the state they touch goes.
    std::unique_ptr<QObject> m_context;
};

// Every item below `root`: "dir", "file:<content>" or "link:<target>".
inline QMap<QString, QString> snapshot(const QString& root)
{
    QMap<QString, QString> items;
    QDirIterator it(
        root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString relative = QDir(root).relativeFilePath(path);
        if (info.isSymLink()) {
            QByteArray target(4096, '\0');
            const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), target.size());
            items.insert(relative, QStringLiteral("link:") + QString::fromUtf8(target.left(n > 0 ? n : 0)));
        } else if (info.isDir()) {
            items.insert(relative, QStringLiteral("dir"));
        } else {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            items.insert(relative, QStringLiteral("file:") + QString::fromUtf8(file.readAll()));
        }
    }
    return items;
}
