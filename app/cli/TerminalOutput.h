#pragma once

#include <QString>

// Standard error of the command-line front end, shared by the toasts and
// the progress bar so that a message never lands in the middle of the bar.
// Main thread only.
class TerminalOutput final {
public:
    // True when standard error is a terminal (the bar is drawn only then).
    static bool isTerminal();
    // Prints one line, clearing the bar first and drawing it again after.
    static void line(const QString& text);
    // Draws the bar at `fraction` (0-1); does nothing off a terminal.
    static void progress(double fraction);
    // Removes the bar, if drawn.
    static void clearProgress();
};
