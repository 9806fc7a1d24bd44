#pragma once

#include "ui/AnalyticsDebugWindowController.h"

#include <memory>

// The analytics debug window at the normal window level; otherwise the same
// as MPAnalyticsDebugWindowController.
class MMAnalyticsDebugWindowController final : public AnalyticsDebugWindowController {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MMAnalyticsDebugWindowController)

public:
    static MMAnalyticsDebugWindowController* sharedController();
    static void showWindow();
    static std::unique_ptr<MMAnalyticsDebugWindowController> makeIfEnabled(const Defaults& defaults);

private:
    MMAnalyticsDebugWindowController();
};
