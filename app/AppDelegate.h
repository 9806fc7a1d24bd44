#pragma once

#include "ui/DialogPanels.h"

#include <QObject>
#include <QStringList>

class WindowController;

// The application's delegate: installs the Qt panels and the toast, starts
// telemetry when launching has finished and routes archives handed over by
// the file manager to extraction.
class AppDelegate final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)

public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Shows the main window and runs the launch steps; `documents` are
    // paths given on the command line or by the file manager.
    void applicationDidFinishLaunching(const QStringList& documents);
    void openFiles(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DialogPanels m_panels;
    WindowController* m_windowController = nullptr;
};
