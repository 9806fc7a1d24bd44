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

// A compression under way at 42 %; with `failed`, one that went wrong for
// want of room on the disk.
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
            { { NotifyManager::pathKey(), model->savePath }, { NotifyManager::succeededKey(), false },
                { NotifyManager::statusKey(), QStringLiteral("NoSpace") },
                { NotifyManager::subjectKey(), QStringLiteral("report.zip") } });
    return sheet;
}

// An extraction into a folder that already held every entry.
QWidget* progressKept(QWidget* window)
{
    auto model = std::make_shared<UnzipModel>();
    model->paths = { sample(QStringLiteral("photos.zip")).toLocalFile() };
    model->savePath = QDir::homePath() + QStringLiteral("/Desktop");
    ProgressController* sheet = ProgressController::initFromStory(window);
    sheet->setModel(model);
    sheet->presentAsSheet(window);
    NotificationCenter& center = NotificationCenter::defaultCenter();
    const QString key = model->jobKey();
    center.post(NotifyManager::LocalFilesDidChange(), { { NotifyManager::pathKey(), key } });
    center.post(NotifyManager::JobDidEnd(),
        { { NotifyManager::pathKey(), key }, { NotifyManager::succeededKey(), true }, { NotifyManager::keptKey(), 12 },
            { NotifyManager::writtenKey(), 0 } });
    return sheet;
}

// A long name, cut in the middle.
QWidget* unzipLongName(QWidget* window)
{
    UnzipController* sheet = UnzipController::initFromStory(window);
    sheet->setFileUrl(sample(QStringLiteral(
        "2026 年度财务报表与审计材料（最终版，请勿外传）- Annual financial statements and audit papers.zip")));
    sheet->presentAsSheet(window);
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
ZAVRIN_SHOT("progress-sheet-kept", progressKept)
ZAVRIN_SHOT("unzip-sheet-long-name", unzipLongName)
