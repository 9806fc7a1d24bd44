#include "platform/NotificationCenter.h"

#include <QMutexLocker>
#include <QThread>
#include <algorithm>

// `removed` and `runners` are guarded by the centre's mutex.
struct NotificationCenter::Observer {
    Token token;
    QString name;
    Handler handler;
    bool removed = false;
    std::vector<Qt::HANDLE> runners; // threads inside the handler now
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, QObject* context, Handler handler)
{
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->handler = std::move(handler);
    {
        QMutexLocker lock(&m_mutex);
        observer->token = m_nextToken++;
        m_observers.push_back(observer);
    }
    const Token token = observer->token;
    // Direct, on the thread that destroys the context, before it is gone.
    if (context)
        QObject::connect(
            context, &QObject::destroyed, context, [this, token] { removeObserver(token); }, Qt::DirectConnection);
    return token;
}

void NotificationCenter::removeObserver(Token token)
{
    QMutexLocker lock(&m_mutex);
    const auto it = std::find_if(
        m_observers.begin(), m_observers.end(), [token](const auto& observer) { return observer->token == token; });
    if (it == m_observers.end())
        return;
    const std::shared_ptr<Observer> observer = *it;
    observer->removed = true;
    m_observers.erase(it);
    // The handler's owner is usually about to go away: wait for calls on
    // other threads, but not for one further up this thread's own stack.
    const Qt::HANDLE self = QThread::currentThreadId();
    while (std::any_of(
        observer->runners.cbegin(), observer->runners.cend(), [self](Qt::HANDLE thread) { return thread != self; }))
        m_handlerDone.wait(&m_mutex);
}

void NotificationCenter::post(const QString& name, const QVariantMap& object, const QVariantMap& userInfo)
{
    // Handlers run outside the lock so that they may post, add or remove
    // observers themselves.
    std::vector<std::shared_ptr<Observer>> matching;
    {
        QMutexLocker lock(&m_mutex);
        for (const auto& observer : m_observers) {
            if (observer->name == name)
                matching.push_back(observer);
        }
    }
    const Notification notification { name, object, userInfo };
    const Qt::HANDLE self = QThread::currentThreadId();
    for (const auto& observer : matching) {
        {
            QMutexLocker lock(&m_mutex);
            if (observer->removed)
                continue;
            observer->runners.push_back(self);
        }
        observer->handler(notification);
        QMutexLocker lock(&m_mutex);
        observer->runners.erase(std::find(observer->runners.begin(), observer->runners.end(), self));
        m_handlerDone.wakeAll();
    }
}
