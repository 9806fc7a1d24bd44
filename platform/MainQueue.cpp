#include "platform/MainQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>

void MainQueue::async(Block block)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block), Qt::QueuedConnection);
}

void MainQueue::after(double seconds, Block block)
{
    const int msecs = std::max(0, static_cast<int>(seconds * 1000.0 + 0.5));
    // Timers belong to the thread that starts them, so start it on the main thread.
    async([msecs, block = std::move(block)]() mutable {
        QTimer::singleShot(msecs, QCoreApplication::instance(), std::move(block));
    });
}

void MainQueue::sync(const Block& block)
{
    if (isMainThread()) {
        block();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), block, Qt::BlockingQueuedConnection);
}

bool MainQueue::isMainThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

namespace {

QThreadPool& jobPool()
{
    // Jobs can wait on a child process for their whole run, so the pool is
    // not bounded by the core count: a second job never queues behind the first.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::max(8, QThread::idealThreadCount()));
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

} // namespace

void WorkerPool::async(std::function<void()> block)
{
    jobPool().start(std::move(block));
}

bool WorkerPool::waitForDone(int msecs)
{
    return jobPool().waitForDone(msecs);
}
