// The home window, alone, with a target lit or focused and with toasts; and
// the feedback window.
#include "app/WindowController.h"
#include "feedback/FeedbackVC.h"
#include "home/DragView.h"
#include "home/MainController.h"
#include "platform/Bundle.h"
#include "screens/ProgressController.h"
#include "screens/UnzipController.h"
#include "tools/screenshots/Shots.h"
#include "ui/TavProgressHUD.h"

#include <QAbstractButton>
#include <QDir>
#include <QTest>

namespace {

WindowController* homeWindow()
{
    auto* window = new WindowController;
    window->showWindow();
    static_cast<void>(QTest::qWaitForWindowActive(window));
    return window;
}

QWidget* home(QWidget*)
{
    return homeWindow();
}

QWidget* homeLit(QWidget*)
{
    WindowController* window = homeWindow();
    window->findChild<DragView*>(QStringLiteral("zipView"))->setDragEntered(true);
    return window;
}

QWidget* homeFocused(QWidget*)
{
    WindowController* window = homeWindow();
    window->findChild<QAbstractButton*>(QStringLiteral("unzipBtn"))->setFocus(Qt::TabFocusReason);
    return window;
}

QWidget* homeToast(QWidget*)
{
    WindowController* window = homeWindow();
    TavProgressHUD::present(QStringLiteral("hud_info"), L(QStringLiteral("不支持的文件格式")));
    return window;
}

// A toast told while a sheet is up shows above the sheet.
QWidget* toastOverSheet(QWidget*)
{
    WindowController* window = homeWindow();
    UnzipController* sheet = window->homeScreen()->unzipVc();
    sheet->setFileUrl(QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/Documents/photos.zip")));
    sheet->presentAsSheet(window->homeScreen());
    static_cast<void>(QTest::qWaitForWindowExposed(sheet));
    TavProgressHUD::present(QStringLiteral("hud_error"), L(QStringLiteral("解压密码错误")));
    return window;
}

// "解压文件中..." while the progress sheet is up: the toast stands clear of it.
QWidget* toastBesideProgress(QWidget*)
{
    WindowController* window = homeWindow();
    ProgressController* sheet = window->homeScreen()->progressVc();
    auto model = std::make_shared<UnzipModel>();
    model->paths = { QDir::homePath() + QStringLiteral("/Documents/photos.zip") };
    model->savePath = QDir::homePath() + QStringLiteral("/Desktop");
    sheet->setModel(model);
    ProgressController::setJobStarter([](const auto&) {});
    sheet->presentAsSheet(window->homeScreen());
    static_cast<void>(QTest::qWaitForWindowExposed(sheet));
    TavProgressHUD::present(QStringLiteral("hud_info"), L(QStringLiteral("解压文件中...")));
    return window;
}

QWidget* feedback(QWidget* window)
{
    FeedbackVC* form = FeedbackVC::initFromStory();
    form->presentAsModalWindow(window);
    return form;
}

} // namespace

ZAVRIN_SHOT("home", home)
ZAVRIN_SHOT("home-lit", homeLit)
ZAVRIN_SHOT("home-focus", homeFocused)
ZAVRIN_SHOT("home-toast", homeToast)
ZAVRIN_SHOT("home-toast-over-sheet", toastOverSheet)
ZAVRIN_SHOT("home-toast-beside-progress", toastBesideProgress)
ZAVRIN_SHOT("feedback", feedback)
