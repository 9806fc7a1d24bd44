// The extraction half of ZipManager: dispatch, password sheet and the three
// archive formats. Pre-checks run on the main thread, each job's heavy work
// in one worker-pool block; outcomes are notifications, toasts and log lines.
#include "engine/ZipManager.h"

#include "engine/NotifyManager.h"
#include "engine/ProgressPoster.h"
#include "engine/RarReader.h"
#include "engine/SevenZipReader.h"
#include "engine/ZipReader.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Panels.h"
#include "platform/RouterManager.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

const QString kZip = QStringLiteral("zip");
const QString kRar = QStringLiteral("rar");
const QString k7z = QStringLiteral("7z");

void post(const QString& name, const QString& path)
{
    NotificationCenter::defaultCenter().post(name, {{NotifyManager::pathKey(), path}});
}

// Queued after everything the job has queued so far, so it is the job's
// last word on the main thread.
void endJob(const QString& path, bool succeeded)
{
    MainQueue::async([path, succeeded] {
        NotificationCenter::defaultCenter().post(NotifyManager::JobDidEnd(),
                                                 {{NotifyManager::pathKey(), path},
                                                  {NotifyManager::succeededKey(), succeeded}});
    });
}

// Success, from the worker: the toast, then on the main thread the success
// notification, the review prompt and the end of the job.
void succeed(const QString& path)
{
    HUD::showSuccessWithStatus(L(QStringLiteral("解压完成")));
    MainQueue::async([path] {
        post(NotifyManager::LocalFilesDidChange(), path);
        RouterManager::showRateAllLife();
        NotificationCenter::defaultCenter().post(NotifyManager::JobDidEnd(),
                                                 {{NotifyManager::pathKey(), path}, {NotifyManager::succeededKey(), true}});
    });
}

void fail(const QString& path)
{
    HUD::showErrorWithStatus(L(QStringLiteral("解压文件错误")));
    endJob(path, false);
}

// Shows "解压文件中..." on the first progress report of a job only.
class StartedToast final {
public:
    void onProgress()
    {
        if (!m_started) {
            HUD::showInfoWithStatus(L(QStringLiteral("解压文件中...")));
            m_started = true;
        }
    }

private:
    bool m_started = false;
};

// Toast "解压密码错误", then the password sheet again.
void showWrongPassword(const QString& path, const QString& toPath, const QString& type)
{
    HUD::showErrorWithStatus(L(QStringLiteral("解压密码错误")));
    ZipManager::shared().showNeedPasswordWithPath(path, toPath, type);
}

} // namespace

ZipManager& ZipManager::shared()
{
    static ZipManager manager;
    return manager;
}

void ZipManager::unzipFileAtPath(const QString& path, const QString& toPath)
{
    // The exact extension: "ZIP" is not "zip".
    const QString extension = QFileInfo(path).suffix();
    if (extension == kZip) {
        unzipedFileAtPath(path, toPath);
    } else if (extension == kRar) {
        unrarFileAtPath(path, toPath);
    } else if (extension == k7z) {
        un7zFileAtPath(path, toPath);
    } else {
        HUD::showInfoWithStatus(L(QStringLiteral("暂不支持的解压格式")));
        endJob(path, false);
    }
}

void ZipManager::showNeedPasswordWithPath(const QString& path, const QString& toPath, const QString& type)
{
    Panels::PasswordRequest request;
    request.message = L(QStringLiteral("请输入解压密码"));
    request.archivePath = path;
    Panels::shared().askPassword(request, [path, toPath, type](const std::optional<QString>& password) {
        if (!password) {
            post(NotifyManager::ProcessCancel(), path);
            endJob(path, false);
            return;
        }
        // An empty field is an empty password, not none.
        if (type == kZip)
            shared().unzipFileAtPath(path, toPath, *password);
        else if (type == kRar)
            shared().unrarFileAtPath(path, toPath, *password);
        else if (type == k7z)
            shared().un7zFileAtPath(path, toPath, *password);
        else
            endJob(path, false);
    });
}


// --- zip --------------------------------------------------------------------

void ZipManager::unzipedFileAtPath(const QString& path, const QString& toPath)
{
    if (ZipReader(path).isPasswordProtected())
        showNeedPasswordWithPath(path, toPath, kZip);
    else
        unzipFileAtPath(path, toPath, std::nullopt);
}

void ZipManager::unzipFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    // libzip's quick check here; the worker then confirms the password by
    // reading an entry before anything is written.
    const bool protectedArchive = ZipReader(path).isPasswordProtected();
    if (protectedArchive && !ZipReader(path).checkPassword(password.value_or(QString()))) {
        showWrongPassword(path, toPath, kZip);
        return;
    }
    WorkerPool::async([path, toPath, password, protectedArchive] {
        const ZipReader reader(path);
        if (protectedArchive && !reader.confirmPassword(password.value_or(QString()))) {
            MainQueue::async([path, toPath] { showWrongPassword(path, toPath, kZip); });
            return;
        }
        StartedToast started;
        ProgressPoster poster(NotifyManager::UnzipProgress(), path);
        const ExtractResult result = reader.extractTo(toPath, password, [&](qint64 index, qint64 total) {
            started.onProgress();
            const double progress = total > 0 ? static_cast<double>(index) / static_cast<double>(total) : 1.0;
            qCDebug(lcEngineZip, "解压进度: %f", progress);
            poster.report(progress);
        });
        if (!result.ok) {
            qCWarning(lcEngineZip, "%s", qUtf8Printable(result.message));
            fail(path);
            return;
        }
        // The destination folder carries the time of completion.
        ::utimensat(AT_FDCWD, QFile::encodeName(toPath).constData(), nullptr, 0);
        succeed(path);
    });
}

// --- rar --------------------------------------------------------------------

namespace {

// The worker block of a rar job, with the reader made (and the password
// checked) on the main thread.
void extractRar(const QString& path, const QString& toPath, std::shared_ptr<RarReader> reader)
{
    WorkerPool::async([path, toPath, reader] {
        // A RAR4 password shows itself wrong only once an entry is decoded.
        if (reader->isPasswordProtected() && !reader->validatePassword(true)) {
            MainQueue::async([path, toPath] { showWrongPassword(path, toPath, kRar); });
            return;
        }
        StartedToast started;
        ProgressPoster poster(NotifyManager::UnzipProgress(), path);
        const ExtractResult result = reader->extractTo(toPath, [&](double fraction) {
            started.onProgress();
            qCDebug(lcEngineRar, "RAR解压进度: %f", fraction);
            poster.report(fraction);
        });
        // Success is the extraction's result; the last progress report
        // (1.0) is queued before the success notification.
        if (!result.ok) {
            qCWarning(lcEngineRar, "RAR解压错误: %s", qUtf8Printable(result.message));
            fail(path);
            return;
        }
        succeed(path);
    });
}

} // namespace

void ZipManager::unrarFileAtPath(const QString& path, const QString& toPath)
{
    auto reader = std::make_shared<RarReader>(path, std::nullopt);
    if (reader->isPasswordProtected())
        showNeedPasswordWithPath(path, toPath, kRar);
    else
        extractRar(path, toPath, reader); // the same as with no password, listed once
}

void ZipManager::unrarFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    auto reader = std::make_shared<RarReader>(path, password);
    if (!reader->isOpen())
        qCWarning(lcEngineRar, "初始化URKArchive错误: %s", qUtf8Printable(reader->errorString()));
    if (reader->isPasswordProtected() && !reader->validatePassword(false)) {
        showWrongPassword(path, toPath, kRar);
        return;
    }
    extractRar(path, toPath, reader);
}

// --- 7z ---------------------------------------------------------------------

namespace {

// The worker block of a 7z job. `listed` is the pre-scan's reader when it
// listed the archive without a password, which saves listing it again.
void extract7z(const QString& path, const QString& toPath, const std::optional<QString>& password,
               std::shared_ptr<SevenZipReader> listed)
{
    WorkerPool::async([path, toPath, password, listed] {
        std::shared_ptr<SevenZipReader> reader = listed;
        if (!reader) {
            reader = std::make_shared<SevenZipReader>(path);
            if (!reader->open(password))
                qCWarning(lcEngine7z, "Open error: %s", qUtf8Printable(reader->lastError()));
        }
        qCDebug(lcEngine7z, "Open error: %s", qUtf8Printable(reader->lastError()));
        for (const SevenZipReader::Entry& entry : reader->entries())
            qCDebug(lcEngine7z, "\n%s", qUtf8Printable(entry.description()));
        qCDebug(lcEngine7z, "Iteration error: %s", qUtf8Printable(reader->lastError()));

        HUD::showInfoWithStatus(L(QStringLiteral("解压文件中...")));
        ProgressPoster poster(NotifyManager::UnzipProgress(), path, ProgressPoster::Precision::Float);
        const ExtractResult result = reader->extract(toPath, password, [&](double fraction) { poster.report(fraction); });
        if (result.ok) {
            succeed(path);
            qCDebug(lcEngine7z, "Extract error: %s", qUtf8Printable(reader->lastError()));
            return;
        }
        // Posted here on the worker; the error toast follows 0.3 s later.
        post(NotifyManager::ProcessCancel(), path);
        MainQueue::after(0.3, [path] { fail(path); });
        qCWarning(lcEngine7z, "Extract error: %s", qUtf8Printable(reader->lastError()));
    });
}

} // namespace

void ZipManager::un7zFileAtPath(const QString& path, const QString& toPath)
{
    // An archive whose names are encrypted cannot be listed without a
    // password: that counts as encrypted too.
    auto reader = std::make_shared<SevenZipReader>(path);
    const bool listed = reader->open(std::nullopt);
    if (reader->needsPassword())
        showNeedPasswordWithPath(path, toPath, k7z);
    else
        extract7z(path, toPath, std::nullopt, listed ? reader : nullptr);
}

void ZipManager::un7zFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    extract7z(path, toPath, password, nullptr);
}
