#pragma once

#include "app/DocumentQueue.h"

#include <QList>
#include <QMainWindow>
#include <QUrl>

class MainController;

// The single main window; its content is the home screen. Closing it quits
// the application. Main thread only.
class WindowController final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowController)

public:
    explicit WindowController(QWidget* parent = nullptr);
    ~WindowController() override;

    MainController* homeScreen() const { return m_homeScreen; }

    // Shows the window, restored when minimised, raised and activated; a
    // sheet or modal window over it is raised too and activated instead.
    void showWindow();

    // True while the home screen is what the window shows: the window is on
    // screen (mapped and placed by the window manager), no sheet, feedback
    // window or other modal window is up, and the home screen waits for no
    // panel.
    bool homeScreenIsKey() const;
    // Hands a document to the home screen's extraction route while
    // `homeScreenIsKey`. Otherwise the document waits, in order and once,
    // and is handed over when the home screen is key again.
    void routeDocument(const QUrl& url);
    // The same for any request of a launch.
    void routeRequest(const DocumentQueue::Request& request);
    const DocumentQueue& waitingRequests() const { return m_waiting; }

signals:
    // A document for extraction; connected to the home screen's `showUnzip`.
    void showUnzipRequested(const QUrl& url);
    // An archive to extract beside itself; the home screen's `extractHere`.
    void extractHereRequested(const QUrl& url);
    // Items to pack; the home screen's `showZip`.
    void showZipRequested(const QList<QUrl>& urls);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The "Debug" menu with the analytics debug windows, when "ShowDebugMenu" is on.
    void addDebugMenu();
    void dispatch(const DocumentQueue::Request& request);
    // Hands waiting requests over, at the next turn, once the home screen is key.
    void drainLater();
    void drain();

    MainController* m_homeScreen = nullptr;
    DocumentQueue m_waiting;
    bool m_drainQueued = false;
    bool m_placed = false; // exposed on the screen once: mapped and placed
};
