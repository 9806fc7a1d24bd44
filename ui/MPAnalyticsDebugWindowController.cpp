#include "ui/MPAnalyticsDebugWindowController.h"

#include "platform/Defaults.h"

MPAnalyticsDebugWindowController::MPAnalyticsDebugWindowController()
    : AnalyticsDebugWindowController(true)
{
}

std::unique_ptr<MPAnalyticsDebugWindowController> MPAnalyticsDebugWindowController::makeIfEnabled(
    const Defaults& defaults)
{
    if (!isDebugMenuEnabled(defaults))
        return nullptr;
    return std::unique_ptr<MPAnalyticsDebugWindowController>(new MPAnalyticsDebugWindowController);
}

MPAnalyticsDebugWindowController* MPAnalyticsDebugWindowController::sharedController()
{
    // Decided once: with the setting off there is no controller for the
    // rest of the process. Kept to the end of the process.
    static MPAnalyticsDebugWindowController* shared = makeIfEnabled(Defaults::standard()).release();
    return shared;
}

void MPAnalyticsDebugWindowController::showWindow()
{
    if (auto* controller = sharedController())
        controller->show();
}
