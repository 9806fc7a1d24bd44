#pragma once

#include "app/LaunchArguments.h"
#include "ui/DialogPanels.h"

#include <QObject>
#include <QStringList>

class WindowController;

// The application's delegate: installs the Qt panels and the toast, starts
// telemetry when launching has finished and routes archives handed over by
// the file manager to extraction. Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppDelegate)

public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Shows the main window and runs the launch steps, then takes what the
    // command line asked for (as `openLaunch`).
    void applicationDidFinishLaunching(const LaunchArguments& launch = {});
    // SIGTERM (a logout, a shutdown), SIGINT and SIGHUP quit the
    // application as closing the window does, so that running jobs clean up
    // after themselves. Call first thing in main, before any thread exists;
    // end main with Interrupts::disarm() and Interrupts::exitStatus().
    static void quitOnSignals();
    // The application is quitting (connected to aboutToQuit): every running
    // job is asked to stop and waited for, so that none leaves a temporary
    // or a partial file behind and none posts to what exit destroys. The
    // window is already gone; a stop takes well under a second.
    void applicationWillTerminate();
    // Routes one file to extraction, when the home screen is up; true in any case.
    bool openFile(const QString& path);
    // Routes the first file of `paths`; the others are not used.
    void openFiles(const QStringList& paths);
    // Documents handed over by a later launch: the window comes forward
    // first, then they are opened as by `openFiles`.
    void openFilesFromAnotherLaunch(const QStringList& paths);
    // What a launch asked for: documents to open (the first), archives to
    // extract beside themselves, items to pack. What the home screen cannot
    // take now waits for it. Refused paths are told in a toast.
    void openLaunch(const LaunchArguments& launch);
    // A later launch's request: the window comes forward first.
    void openLaunchFromAnotherLaunch(const LaunchArguments& launch);

    WindowController* windowController() const { return m_windowController; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void route(const QString& path);
    static void tellRefused(const QStringList& refused);

    DialogPanels m_panels;
    WindowController* m_windowController = nullptr;
};
