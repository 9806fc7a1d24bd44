#include "platform/Panels.h"

#include "platform/Logging.h"
#include "platform/MainQueue.h"

namespace {

// Used when no front end has installed its panels: every request is cancelled.
class NoPanels final : public Panels {
public:
    void open(const OpenRequest&, PathsCompletion completion) override
    {
        qCWarning(lcPlatform) << "no panels installed; open panel cancelled";
        MainQueue::async([completion = std::move(completion)] { completion({}); });
    }
    void save(const SaveRequest&, PathCompletion completion) override
    {
        qCWarning(lcPlatform) << "no panels installed; save panel cancelled";
        MainQueue::async([completion = std::move(completion)] { completion({}); });
    }
    void askPassword(const PasswordRequest&, PasswordCompletion completion) override
    {
        qCWarning(lcPlatform) << "no panels installed; password sheet cancelled";
        MainQueue::async([completion = std::move(completion)] { completion(std::nullopt); });
    }
};

Panels* g_panels = nullptr;

} // namespace

Panels::~Panels() = default;

Panels& Panels::shared()
{
    static NoPanels none;
    return g_panels ? *g_panels : none;
}

void Panels::setShared(Panels* panels)
{
    g_panels = panels;
}
