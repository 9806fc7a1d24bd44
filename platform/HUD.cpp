#include "platform/HUD.h"

#include "platform/Logging.h"
#include "platform/MainQueue.h"

#include <atomic>

namespace {

std::atomic<ToastPresenter*> g_presenter { nullptr };

enum class Kind {
    Info,
    Success,
    Error,
};

void show(Kind kind, const QString& status)
{
    // Always queued, also on the main thread: the caller returns first.
    MainQueue::async([kind, status] {
        ToastPresenter* presenter = g_presenter.load();
        if (!presenter) {
            qCInfo(lcUi) << "toast:" << status;
            return;
        }
        switch (kind) {
        case Kind::Info:
            presenter->showMessage(status);
            break;
        case Kind::Success:
            presenter->showSuccess(status);
            break;
        case Kind::Error:
            presenter->showError(status);
            break;
        }
    });
}

} // namespace

ToastPresenter::~ToastPresenter() = default;

void HUD::showInfoWithStatus(const QString& status)
{
    show(Kind::Info, status);
}
void HUD::showSuccessWithStatus(const QString& status)
{
    show(Kind::Success, status);
}
void HUD::showErrorWithStatus(const QString& status)
{
    show(Kind::Error, status);
}

void HUD::setPresenter(ToastPresenter* presenter)
{
    g_presenter = presenter;
}
