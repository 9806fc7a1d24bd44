#pragma once

#include "ui/AnalyticsDebugWindowController.h"

#include <memory>

// The analytics debug window kept above normal windows. Exists only when
// "ShowDebugMenu" is on; then it collects from its first request on, so the
// application asks for it at start-up.
class MPAnalyticsDebugWindowController final : public AnalyticsDebugWindowController {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MPAnalyticsDebugWindowController)

public:
    // The process's controller, or nullptr when "ShowDebugMenu" is off (read
    // once). The first call should come from the main thread.
    static MPAnalyticsDebugWindowController* sharedController();
    // Shows the shared controller's window; nothing when there is none.
    static void showWindow();
    // A controller when "ShowDebugMenu" is on in `defaults`, else none.
    static std::unique_ptr<MPAnalyticsDebugWindowController> makeIfEnabled(const Defaults& defaults);

private:
    MPAnalyticsDebugWindowController();
};
