#pragma once

#include "platform/Panels.h"

class QDialog;

// The application's panels: the desktop's file chooser where it offers one
// (else Qt's file dialog, in the window's language) and a password sheet,
// each window-modal over the key window and opened without blocking. The
// completion runs exactly once, on the main thread: when the dialog closes,
// or soon after it, cancelled, when its window is destroyed under it.
class DialogPanels final : public Panels {
public:
    DialogPanels() = default;
    ~DialogPanels() override = default;
    DialogPanels(const DialogPanels&) = delete;
    DialogPanels& operator=(const DialogPanels&) = delete;

    void open(const OpenRequest& request, PathsCompletion completion) override;
    void save(const SaveRequest& request, PathCompletion completion) override;
    // A sheet with the request's message, a plain line edit
    // ("passwordLineEdit") and the buttons "确定" (default) and "取消".
    void askPassword(const PasswordRequest& request, PasswordCompletion completion) override;

    // The dialogs are named so that tests and the window lookup can find them.
    static QDialog* openDialog(); // the open or save panel on screen, if any
    static QDialog* passwordSheet();
    // False when ZAVRIN_QT_FILE_DIALOG=1 asks for Qt's own dialog everywhere.
    static bool desktopChoosersAllowed();
    // Installs Qt's own translations ("qtbase_zh_CN" …) for the language of
    // the string table in use, so that Qt's dialogs speak the window's
    // language. Once per process; false when none is needed or found.
    static bool installQtTranslations();
};
