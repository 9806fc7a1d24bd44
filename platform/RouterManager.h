#pragma once

// The review prompts: once per installation after a successful job, or once
// per application version. Main thread only; the outcome is never reported.
class RouterManager final {
public:
    static void showRateAllLife();
    static void showRatedThisVersion();
};
