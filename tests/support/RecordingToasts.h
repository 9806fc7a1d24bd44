#pragma once

#include "platform/HUD.h"

#include <QList>
#include <QString>

// Records the toasts shown while it is installed.
class RecordingToasts final : public ToastPresenter {
public:
    enum class Kind {
        Info,
        Success,
        Error,
    };
    struct Toast {
        Kind kind;
        QString text;
    };

    RecordingToasts() { HUD::setPresenter(this); }
    ~RecordingToasts() override { HUD::setPresenter(nullptr); }

    void showMessage(const QString& text) override { toasts.append({ Kind::Info, text }); }
    void showSuccess(const QString& text) override { toasts.append({ Kind::Success, text }); }
    void showError(const QString& text) override { toasts.append({ Kind::Error, text }); }

    int count(Kind kind, const QString& text) const
    {
        int n = 0;
        for (const Toast& toast : toasts)
            n += toast.kind == kind && toast.text == text;
        return n;
    }

    QList<Toast> toasts;
};
