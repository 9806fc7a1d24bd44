#pragma once

#include <QDialog>

// The base of every screen. A screen is built once (`initFromStory` of its
// class), then presented any number of times: as a sheet, window-modal over
// the presenting window, or as a modal window of its own. Presenting never
// blocks: it returns as soon as the screen is on its way to the display.
//
// Hooks: `viewDidLoad` runs once, before the first presentation (it is where
// a screen calls `international` to set its texts); `viewWillAppear` and
// `viewDidAppear` run around every presentation. Main thread only.
//
// Ownership: a screen whose parent already lies in the presenter's window
// stays where it is; any other screen moves under the presenter's window,
// which then owns it (keep a QPointer to such a screen).
class ViewController : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ViewController)

public:
    explicit ViewController(QWidget* parent = nullptr);
    ~ViewController() override;

    // Runs `viewDidLoad` if it has not run yet.
    void loadViewIfNeeded();

    // Shows the screen window-modal over `presenter`'s window, as a sheet.
    // Presenting a screen that is already presented does nothing.
    void presentAsSheet(QWidget* presenter);
    // Shows the screen as a window of its own, modal for the application.
    void presentAsModalWindow(QWidget* presenter);
    // Closes the screen; it can be presented again. Nothing when not shown.
    void dismissViewController();
    // True from a presentation until its dismissal.
    bool isPresented() const { return m_presented; }
    // Counts presentations; work scheduled during one presentation checks it
    // so that it never acts on a later one.
    quint64 presentationCount() const { return m_presentations; }

signals:
    // After every dismissal, however it came about.
    void didDismiss();

protected:
    virtual void viewDidLoad() { }
    virtual void viewWillAppear() { }
    virtual void viewDidAppear() { }
    // Sets every visible text; screens call it from `viewDidLoad`.
    virtual void international() { }

    // Escape, the window's close button, accept() and reject() all end in
    // `dismissViewController`.
    void done(int result) override;

private:
    void present(QWidget* presenter, Qt::WindowModality modality);

    bool m_loaded = false;
    bool m_presented = false;
    quint64 m_presentations = 0;
};
