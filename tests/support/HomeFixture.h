#pragma once

// The home window as the application runs it, for the suites that drive it
// (home, app): the delegate's window shown, the real engine, panels answered
// from a script, toasts and the file manager recorded.
#include "app/AppDelegate.h"
#include "app/WindowController.h"
#include "home/MainController.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/ScreenFixture.h"
#include "tests/support/ScriptedPanels.h"

#include <QCoreApplication>

class HomeFixture final {
public:
    HomeFixture() { window()->showWindow(); }
    ~HomeFixture() = default;
    HomeFixture(const HomeFixture&) = delete;
    HomeFixture& operator=(const HomeFixture&) = delete;

    WindowController* window() const { return delegate.windowController(); }
    MainController* home() const { return window()->homeScreen(); }

    // Declared in the order they are installed; destroyed the other way round.
    AppDelegate delegate;
    ScriptedPanels panels;
    RecordingToasts toasts;
    RecordingWorkspace workspace;
};
