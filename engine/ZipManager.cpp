// The extraction half of ZipManager: dispatch, password sheet and the three
// archive formats. Each step that reads the archive (the pre-check, the
// password check, the extraction) runs in a worker-pool block and comes
// back to the main thread for the password sheet; outcomes are
// notifications, toasts and log lines.
#include "engine/ZipManager.h"

#include "engine/JobStop.h"
#include "engine/NotifyManager.h"
#include "engine/ProgressPoster.h"
#include "engine/extract/RarReader.h"
#include "engine/extract/SevenZipReader.h"
#include "engine/extract/ZipReader.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Panels.h"
#include "platform/RouterManager.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kZip = QStringLiteral("zip");
const QString kRar = QStringLiteral("rar");
const QString k7z = QStringLiteral("7z");

void post(const QString& name, const QString& path)
{
    NotificationCenter::defaultCenter().post(name, { { NotifyManager::pathKey(), path } });
}

// Queued after everything the job has queued so far, so it is the job's
// last word on the main thread.
void endJob(const QString& path, bool succeeded)
{
    MainQueue::async([path, succeeded] {
        NotificationCenter::defaultCenter().post(NotifyManager::JobDidEnd(),
            { { NotifyManager::pathKey(), path }, { NotifyManager::succeededKey(), succeeded } });
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
            { { NotifyManager::pathKey(), path }, { NotifyManager::succeededKey(), true } });
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

// --- outcomes ---------------------------------------------------------------

namespace {

// Passwords that left a job in doubt (no encrypted entry decoded right,
// though the quick check passed), by archive. The same password in doubt
// twice means damaged data, not a wrong password: asking again would never
// end. Main thread only.
QHash<QString, QString>& doubtedPasswords()
{
    static QHash<QString, QString> passwords;
    return passwords;
}

// Worker thread: ends a zip or rar job by its reader's outcome. `type`
// says which operation the password sheet continues with.
void conclude(const Outcome& result, const QString& path, const QString& toPath, const std::optional<QString>& password,
    const QString& type, const QLoggingCategory& log)
{
    using Status = Outcome::Status;
    if (result.ok()) {
        MainQueue::async([path] { doubtedPasswords().remove(path); });
        succeed(path);
        return;
    }
    if (result.status == Status::Cancelled) {
        qCInfo(log, "job stopped: %s", qUtf8Printable(path));
        endJob(path, false);
        return;
    }
    qCWarning(log, "%s%s", type == kRar ? "RAR解压错误: " : "", qUtf8Printable(result.message));
    if (result.status == Status::WrongPassword) {
        MainQueue::async([path, toPath, type] { showWrongPassword(path, toPath, type); });
    } else if (result.status == Status::WrongPasswordOrDamage) {
        MainQueue::async([path, toPath, type, typed = password.value_or(QString())] {
            const auto doubted = doubtedPasswords().constFind(path);
            if (doubted != doubtedPasswords().constEnd() && doubted.value() == typed) {
                doubtedPasswords().remove(path);
                fail(path);
                return;
            }
            doubtedPasswords().insert(path, typed);
            showWrongPassword(path, toPath, type);
        });
    } else {
        fail(path);
    }
}

// A job that starts after a stop was asked for ends before it writes.
bool stoppedBeforeStart(const QString& path)
{
    if (!JobStop::requested())
        return false;
    endJob(path, false);
    return true;
}

} // namespace

// --- zip --------------------------------------------------------------------

namespace {

// Worker thread: extracts with a reader whose password passed the quick
// check; the extraction itself confirms it.
void extractZip(
    const ZipReader& reader, const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    StartedToast started;
    ProgressPoster poster(NotifyManager::UnzipProgress(), path);
    const Outcome result = reader.extractTo(toPath, password, [&](qint64 index, qint64 total) {
        started.onProgress();
        const double progress = total > 0 ? static_cast<double>(index) / static_cast<double>(total) : 1.0;
        qCDebug(lcEngineZip, "解压进度: %f", progress);
        poster.report(progress);
    });
    // The destination folder carries the time of completion.
    if (result.ok())
        ::utimensat(AT_FDCWD, QFile::encodeName(toPath).constData(), nullptr, 0);
    conclude(result, path, toPath, password, kZip, lcEngineZip());
}

} // namespace

// The archive is listed on the worker; the sheet comes back to the main thread.
void ZipManager::unzipedFileAtPath(const QString& path, const QString& toPath)
{
    WorkerPool::async([path, toPath] {
        if (stoppedBeforeStart(path))
            return;
        const ZipReader reader(path);
        if (reader.isPasswordProtected())
            MainQueue::async([path, toPath] { shared().showNeedPasswordWithPath(path, toPath, kZip); });
        else
            extractZip(reader, path, toPath, std::nullopt);
    });
}

void ZipManager::unzipFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    WorkerPool::async([path, toPath, password] {
        if (stoppedBeforeStart(path))
            return;
        // libzip's quick check first; an archive without password skips it
        // whatever the password.
        const ZipReader reader(path);
        if (reader.isPasswordProtected() && !reader.checkPassword(password.value_or(QString()))) {
            MainQueue::async([path, toPath] { showWrongPassword(path, toPath, kZip); });
            return;
        }
        extractZip(reader, path, toPath, password);
    });
}

// --- rar --------------------------------------------------------------------

namespace {

// Worker thread: extracts with a reader that has listed the archive.
void extractRar(
    const RarReader& reader, const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    StartedToast started;
    ProgressPoster poster(NotifyManager::UnzipProgress(), path);
    const Outcome result = reader.extractTo(toPath, [&](double fraction) {
        started.onProgress();
        qCDebug(lcEngineRar, "RAR解压进度: %f", fraction);
        poster.report(fraction);
    });
    // Success is the extraction's result; the last progress report (1.0)
    // is queued before the success notification.
    conclude(result, path, toPath, password, kRar, lcEngineRar());
}

} // namespace

void ZipManager::unrarFileAtPath(const QString& path, const QString& toPath)
{
    WorkerPool::async([path, toPath] {
        if (stoppedBeforeStart(path))
            return;
        const RarReader reader(path, std::nullopt);
        if (reader.isPasswordProtected())
            MainQueue::async([path, toPath] { shared().showNeedPasswordWithPath(path, toPath, kRar); });
        else
            extractRar(reader, path, toPath, std::nullopt); // the same as with no password, listed once
    });
}

void ZipManager::unrarFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    WorkerPool::async([path, toPath, password] {
        if (stoppedBeforeStart(path))
            return;
        const RarReader reader(path, password);
        if (!reader.isOpen())
            qCWarning(lcEngineRar, "初始化URKArchive错误: %s", qUtf8Printable(reader.errorString()));
        if (!reader.validatePassword()) {
            MainQueue::async([path, toPath] { showWrongPassword(path, toPath, kRar); });
            return;
        }
        extractRar(reader, path, toPath, password);
    });
}

// --- 7z ---------------------------------------------------------------------

namespace {

// Worker thread: a 7z job, listed while it is extracted. Without a
// password, an archive that needs one (its names encrypted count too)
// leaves nothing and asks for it.
void extract7z(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    SevenZipReader reader(path);
    bool needsPassword = false;
    ProgressPoster poster(NotifyManager::UnzipProgress(), path, ProgressPoster::Precision::Float);
    const auto listed = [&] {
        if (!password && reader.needsPassword()) {
            needsPassword = true;
            return false;
        }
        if (password && !reader.isListed())
            qCWarning(lcEngine7z, "Open error: %s", qUtf8Printable(reader.lastError()));
        qCDebug(lcEngine7z, "Open error: %s", qUtf8Printable(reader.lastError()));
        for (const SevenZipReader::Entry& entry : reader.entries())
            qCDebug(lcEngine7z, "\n%s", qUtf8Printable(entry.description()));
        qCDebug(lcEngine7z, "Iteration error: %s", qUtf8Printable(reader.lastError()));
        HUD::showInfoWithStatus(L(QStringLiteral("解压文件中...")));
        return true;
    };
    const Outcome result = reader.extract(
        toPath, password, [&](double fraction) { poster.report(fraction); }, listed);
    if (needsPassword) {
        MainQueue::async([path, toPath] { ZipManager::shared().showNeedPasswordWithPath(path, toPath, k7z); });
        return;
    }
    if (result.ok()) {
        succeed(path);
        qCDebug(lcEngine7z, "Extract error: %s", qUtf8Printable(reader.lastError()));
        return;
    }
    if (result.status == Outcome::Status::Cancelled) {
        qCInfo(lcEngine7z, "job stopped: %s", qUtf8Printable(path));
        endJob(path, false);
        return;
    }
    // Posted here on the worker; the error toast follows 0.3 s later.
    post(NotifyManager::ProcessCancel(), path);
    MainQueue::after(0.3, [path] { fail(path); });
    qCWarning(lcEngine7z, "Extract error: %s", qUtf8Printable(reader.lastError()));
}

} // namespace

void ZipManager::un7zFileAtPath(const QString& path, const QString& toPath)
{
    WorkerPool::async([path, toPath] {
        if (!stoppedBeforeStart(path))
            extract7z(path, toPath, std::nullopt);
    });
}

void ZipManager::un7zFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    WorkerPool::async([path, toPath, password] {
        if (!stoppedBeforeStart(path))
            extract7z(path, toPath, password);
    });
}
