#include "engine/ProgressPoster.h"

#include "engine/NotifyManager.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

namespace {
constexpr double kStep = 0.01;
constexpr qint64 kIntervalMs = 50;
} // namespace

ProgressPoster::ProgressPoster(QString notificationName, QString path, Precision precision)
    : m_name(std::move(notificationName))
    , m_path(std::move(path))
    , m_precision(precision)
{
}

void ProgressPoster::report(double progress)
{
    if (progress == m_lastPosted)
        return;
    if (progress >= 1.0 || m_lastPosted < 0 || progress - m_lastPosted >= kStep
        || m_sincePosted.elapsed() >= kIntervalMs)
        post(progress);
}

void ProgressPoster::post(double progress)
{
    m_lastPosted = progress;
    m_sincePosted.start();
    const QVariant value
        = m_precision == Precision::Float ? QVariant(static_cast<float>(progress)) : QVariant(progress);
    MainQueue::async([name = m_name, path = m_path, value] {
        NotificationCenter::defaultCenter().post(
            name, { { NotifyManager::pathKey(), path }, { NotifyManager::progressKey(), value } });
    });
}
