#pragma once

#include <QString>

// Shows the toasts. Implemented by the window's toast view in the
// application and by standard-error lines in the command-line front end.
class ToastPresenter {
public:
    virtual ~ToastPresenter();
    // Called on the main thread with already-localised text.
    virtual void showMessage(const QString& text) = 0;
    virtual void showSuccess(const QString& text) = 0;
    virtual void showError(const QString& text) = 0;
};

// Status toasts. Each operation takes already-localised text, may be called
// from any thread, returns at once, and shows the toast on the main thread.
// Without an installed presenter the text is only logged.
class HUD final {
public:
    static void showInfoWithStatus(const QString& status);
    static void showSuccessWithStatus(const QString& status);
    static void showErrorWithStatus(const QString& status);

    // Installs the presenter (not owned); null removes it. Main thread only.
    static void setPresenter(ToastPresenter* presenter);
};
