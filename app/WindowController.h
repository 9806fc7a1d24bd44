#pragma once

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
    // screen and no sheet, feedback window or other modal window is up.
    bool homeScreenIsKey() const;
    // Hands a document to the home screen's extraction route while
    // `homeScreenIsKey`; ignores it otherwise.
    void routeDocument(const QUrl& url);

signals:
    // A document for extraction; connected to the home screen's `showUnzip`.
    void showUnzipRequested(const QUrl& url);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The "Debug" menu with the analytics debug windows, when "ShowDebugMenu" is on.
    void addDebugMenu();

    MainController* m_homeScreen = nullptr;
};
