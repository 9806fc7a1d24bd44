#pragma once

class QWidget;

// Finds the windows that toasts and sheets attach to. Main thread only.
class WindowLookup final {
public:
    // The window the user works in: the active window when it is an
    // application window (not a dialog), else the application window under
    // the active dialog, else the last visible application window in the
    // order the windows were first shown. Null when none is visible.
    static QWidget* mainWindow();

    // The window a sheet opens over: the active window (a dialog included),
    // else the active modal dialog, else `mainWindow()`.
    static QWidget* keyWindow();

    // The widget holding a window's content: the central widget of a main
    // window, the window itself otherwise.
    static QWidget* contentWidget(QWidget* window);
};
