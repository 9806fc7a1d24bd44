#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <QWaitCondition>
#include <functional>
#include <memory>
#include <vector>

// One posted notification. Engine notifications carry their payload in
// `object` (keys "path" and "progress"); announcements such as
// "AnalyticsEvent" carry theirs in `userInfo`.
struct Notification final {
    QString name;
    QVariantMap object;
    QVariantMap userInfo;
};

// Process-wide notification centre. Posting is synchronous: observers run on
// the posting thread, in registration order. Observers have no sender filter.
// Posting, adding and removing are safe from any thread.
class NotificationCenter final {
public:
    using Handler = std::function<void(const Notification&)>;
    using Token = quint64;

    static NotificationCenter& defaultCenter();

    // Registers `handler` for `name`. When `context` is given the observer is
    // removed automatically when that object is destroyed.
    Token addObserver(const QString& name, QObject* context, Handler handler);
    // After this returns the handler is not called again and runs on no
    // other thread: a call running elsewhere is waited for. A handler may
    // remove its own observer; two handlers that remove each other while
    // both run on different threads would wait for each other forever.
    void removeObserver(Token token);

    void post(const QString& name, const QVariantMap& object = {}, const QVariantMap& userInfo = {});

private:
    struct Observer;
    QMutex m_mutex;
    QWaitCondition m_handlerDone;
    std::vector<std::shared_ptr<Observer>> m_observers;
    Token m_nextToken = 1;
};
