#include "ui/MMAnalyticsDebugWindowController.h"

#include "platform/Defaults.h"

MMAnalyticsDebugWindowController::MMAnalyticsDebugWindowController()
    : AnalyticsDebugWindowController(false)
{
}

std::unique_ptr<MMAnalyticsDebugWindowController> MMAnalyticsDebugWindowController::makeIfEnabled(
    const Defaults& defaults)
{
    if (!isDebugMenuEnabled(defaults))
        return nullptr;
    return std::unique_ptr<MMAnalyticsDebugWindowController>(new MMAnalyticsDebugWindowController);
}

MMAnalyticsDebugWindowController* MMAnalyticsDebugWindowController::sharedController()
{
    // Decided once: with the setting off there is no controller for the
    // rest of the process. Kept to the end of the process.
    static MMAnalyticsDebugWindowController* shared = makeIfEnabled(Defaults::standard()).release();
    return shared;
}

void MMAnalyticsDebugWindowController::showWindow()
{
    if (auto* controller = sharedController())
        controller->show();
}
