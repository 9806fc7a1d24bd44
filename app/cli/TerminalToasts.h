#pragma once

#include "platform/HUD.h"

// Toasts of the command-line front end: each becomes one line on standard
// error, in the user's language (the engine localises the text).
class TerminalToasts final : public ToastPresenter {
public:
    void showMessage(const QString& text) override;
    void showSuccess(const QString& text) override;
    void showError(const QString& text) override;
};
