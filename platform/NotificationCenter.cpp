#include "platform/NotificationCenter.h"

#include <QMutexLocker>

#include <atomic>

struct NotificationCenter::Observer {
    Token token;
    QString name;
    Handler handler;
    std::atomic<bool> removed{false};
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
    if (context)
        QObject::connect(context, &QObject::destroyed, [this, token] { removeObserver(token); });
    return token;
}

void NotificationCenter::removeObserver(Token token)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = m_observers.begin(); it != m_observers.end(); ++it) {
        if ((*it)->token == token) {
            (*it)->removed = true;
            m_observers.erase(it);
            return;
        }
    }
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
    const Notification notification{name, object, userInfo};
    for (const auto& observer : matching) {
        if (!observer->removed)
            observer->handler(notification);
    }
}
