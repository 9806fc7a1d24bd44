// The job sheets, each presented over the stand-in home window.
#include "engine/JobModels.h"
#include "engine/NotifyManager.h"
#include "platform/Bundle.h"
#include "platform/NotificationCenter.h"
#include "screens/ProgressController.h"
#include "screens/UnzipController.h"
#include "screens/ZipController.h"
#include "tools/screenshots/Shots.h"
#include "ui/PasswordSheet.h"

#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>

namespace {

QUrl sample(const QString& name)
{
    return QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/Documents/") + name);
}

QWidget* unzipSheet(QWidget* window)
{
    UnzipController* sheet = UnzipController::initFromStory(window);
    sheet->setFileUrl(sample(QStringLiteral("photos.zip")));
    sheet->presentAsSheet(window);
    return sheet;
}

ZipController* zipSheet(QWidget* window)
{
    ZipController* sheet = ZipController::initFromStory(window);
    sheet->setFileUrls({ sample(QStringLiteral("report.pdf")), sample(QStringLiteral("photos")) });
    sheet->presentAsSheet(window);
    return sheet;
}

QWidget* zipPlainSheet(QWidget* window)
{
    return zipSheet(window);
}

QWidget* zipPasswordSheet(QWidget* window)
{
    ZipController* sheet = zipSheet(window);
    sheet->findChild<QAbstractButton*>(QStringLiteral("sizeBtn"))->click();
    sheet->findChild<QAbstractButton*>(QStringLiteral("addPasswordBtn"))->click();
    sheet->findChild<QLineEdit*>(QStringLiteral("passwordTf"))->setText(QStringLiteral("secret"));
    return sheet;
}

// A compression under way at 42 %; with `failed`, one that went wrong.
ProgressController* progressSheet(QWidget* window, bool failed)
{
    auto model = std::make_shared<ZipModel>();
    model->paths = { sample(QStringLiteral("report.pdf")).toLocalFile() };
    model->savePath = sample(QStringLiteral("report.zip")).toLocalFile();
    ProgressController* sheet = ProgressController::initFromStory(window);
    sheet->setModel(model);
    sheet->presentAsSheet(window);
    // The sheet is pictured and gone before its job would start.
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.post(NotifyManager::ZipProgress(),
        { { NotifyManager::pathKey(), model->savePath }, { NotifyManager::progressKey(), 0.4237f } });
    if (failed)
        center.post(NotifyManager::JobDidEnd(),
            { { NotifyManager::pathKey(), model->savePath }, { NotifyManager::succeededKey(), false } });
    return sheet;
}

QWidget* progressRunning(QWidget* window)
{
    return progressSheet(window, false);
}

QWidget* progressFailed(QWidget* window)
{
    return progressSheet(window, true);
}

// The password sheet an encrypted archive asks with.
QWidget* passwordPrompt(QWidget* window)
{
    auto* sheet = new PasswordSheet(
        L(QStringLiteral("请输入解压密码")), sample(QStringLiteral("photos.zip")).toLocalFile(), window);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->show();
    return sheet;
}

} // namespace

ZAVRIN_SHOT("password-sheet", passwordPrompt)
ZAVRIN_SHOT("unzip-sheet", unzipSheet)
ZAVRIN_SHOT("zip-sheet", zipPlainSheet)
ZAVRIN_SHOT("zip-sheet-password", zipPasswordSheet)
ZAVRIN_SHOT("progress-sheet", progressRunning)
ZAVRIN_SHOT("progress-sheet-failed", progressFailed)
