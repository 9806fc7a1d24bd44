#pragma once

#include <QMainWindow>

// The single main window. Closing it quits the application.
class WindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowController)

public:
    explicit WindowController(QWidget* parent = nullptr);
    ~WindowController() override;

    void showWindow();

private:
    // The "Debug" menu with the analytics debug windows, when "ShowDebugMenu" is on.
    void addDebugMenu();
};
