#pragma once

// The GUI's part of telemetry: the analytics client learns the primary
// screen's size and depth, and a store error is shown to the user in a
// message box over the main window, once per process. Call on the main
// thread before telemetry starts.
class TelemetrySetup final {
public:
    TelemetrySetup() = delete;
    static void install();
};
