#include "engine/JobRegistry.h"

#include <QHash>
#include <QList>
#include <mutex>

namespace {

struct Registry {
    std::mutex mutex;
    QMultiHash<QString, StopToken> tokens;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

StopToken JobRegistry::begin(const QString& key)
{
    StopToken token;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.tokens.insert(key, token);
    return token;
}

void JobRegistry::end(const QString& key, const StopToken& token)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    for (auto it = r.tokens.find(key); it != r.tokens.end() && it.key() == key; ++it) {
        if (it.value().sameAs(token)) {
            r.tokens.erase(it);
            return;
        }
    }
}

bool JobRegistry::stop(const QString& key)
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    bool any = false;
    for (auto it = r.tokens.constFind(key); it != r.tokens.constEnd() && it.key() == key; ++it) {
        it.value().request();
        any = true;
    }
    return any;
}

int JobRegistry::running()
{
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return static_cast<int>(r.tokens.size());
}
