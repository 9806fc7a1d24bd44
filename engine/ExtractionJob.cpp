// The extraction flow shared by every format: pre-check and password check
// on the worker, the password sheet on the main thread, the extraction
// through an EntrySink, and one ending that tells the screens, the toasts
// and the log how the job went.
#include "engine/ExtractionJob.h"

#include "engine/JobRegistry.h"
#include "engine/NotifyManager.h"
#include "engine/OwnFolder.h"
#include "engine/ProgressPoster.h"
#include "engine/extract/ArchiveFormats.h"
#include "engine/safety/EntrySink.h"
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

using Status = Outcome::Status;

void post(const QString& name, const QString& path)
{
    NotificationCenter::defaultCenter().post(name, { { NotifyManager::pathKey(), path } });
}

// What the front ends learn when a job is over, however it ended.
struct Ending {
    Outcome outcome;
    qint64 kept = 0;
    QStringList keptNames;
    qint64 written = 0;
    QString output; // the folder that received the files
};

// Queued after everything the job has queued so far, so it is the job's
// last word on the main thread.
void endJob(const ExtractionJob& job, const Ending& ending)
{
    JobRegistry::end(job.path, job.stop);
    QVariantMap object { { NotifyManager::pathKey(), job.path }, { NotifyManager::succeededKey(), ending.outcome.ok() },
        { NotifyManager::statusKey(), Outcome::statusName(ending.outcome.status) },
        { NotifyManager::subjectKey(), QFileInfo(job.path).fileName() }, { NotifyManager::keptKey(), ending.kept },
        { NotifyManager::writtenKey(), ending.written } };
    if (!ending.keptNames.isEmpty())
        object.insert(NotifyManager::keptNamesKey(), ending.keptNames);
    if (!ending.output.isEmpty())
        object.insert(NotifyManager::outputKey(), ending.output);
    if (!ending.outcome.ok() && !ending.outcome.message.isEmpty())
        object.insert(NotifyManager::reasonKey(), ending.outcome.message);
    const bool succeeded = ending.outcome.ok();
    const QString path = job.path;
    MainQueue::async([object, succeeded, path] {
        if (succeeded) {
            post(NotifyManager::LocalFilesDidChange(), path);
            RouterManager::showRateAllLife();
        }
        NotificationCenter::defaultCenter().post(NotifyManager::JobDidEnd(), object);
    });
}

void endWith(const ExtractionJob& job, const Outcome& outcome)
{
    endJob(job, { .outcome = outcome });
}

// Passwords that left a job in doubt (no encrypted entry decoded right,
// though the quick check passed), by archive. The same password in doubt
// twice means damaged data, not a wrong password: asking again would never
// end. Main thread only.
QHash<QString, QString>& doubtedPasswords()
{
    static QHash<QString, QString> passwords;
    return passwords;
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

} // namespace

void ExtractionJob::start(const std::optional<QString>& password) const
{
    WorkerPool::async([job = *this, password] { job.run(password); });
}

void ExtractionJob::askPassword() const
{
    Panels::PasswordRequest request;
    request.message = L(QStringLiteral("请输入解压密码"));
    request.archivePath = path;
    Panels::shared().askPassword(request, [job = *this](const std::optional<QString>& password) {
        if (!password) {
            post(NotifyManager::ProcessCancel(), job.path);
            endWith(job, { .status = Status::Cancelled, .message = QStringLiteral("password sheet cancelled") });
            return;
        }
        // An empty field is an empty password, not none.
        job.start(*password);
    });
}

namespace {

// Main thread: toast "解压密码错误", then the sheet again.
void wrongPassword(const ExtractionJob& job)
{
    HUD::showErrorWithStatus(L(QStringLiteral("解压密码错误")));
    job.askPassword();
}

// Worker thread: a job that cannot go on. Formats that cancel on failure
// (7z) post the cancel at once, here, and the toast 0.3 s later.
void fail(const ExtractionJob& job, const Ending& ending)
{
    const ArchiveFormat& format = *job.format;
    qCWarning(format.log, "%s%s", format.failureLog, qUtf8Printable(ending.outcome.message));
    if (format.failureCancels) {
        post(NotifyManager::ProcessCancel(), job.path);
        MainQueue::after(0.3, [job, ending] {
            if (!job.options.quiet)
                HUD::showErrorWithStatus(L(QStringLiteral("解压文件错误")));
            endJob(job, ending);
        });
        return;
    }
    if (!job.options.quiet)
        HUD::showErrorWithStatus(L(QStringLiteral("解压文件错误")));
    endJob(job, ending);
}

// Worker thread: ends a job by its reader's outcome.
void conclude(const ExtractionJob& job, const std::optional<QString>& password, const Ending& ending)
{
    const ArchiveFormat& format = *job.format;
    const Outcome& result = ending.outcome;
    if (result.ok()) {
        // The destination folder carries the time of completion.
        if (format.stampsFolder)
            ::utimensat(AT_FDCWD, QFile::encodeName(job.toPath).constData(), nullptr, 0);
        MainQueue::async([path = job.path] { doubtedPasswords().remove(path); });
        if (!job.options.quiet)
            HUD::showSuccessWithStatus(L(QStringLiteral("解压完成")));
        endJob(job, ending);
        return;
    }
    if (result.status == Status::Cancelled) {
        qCInfo(format.log, "job stopped: %s", qUtf8Printable(job.path));
        endJob(job, ending);
        return;
    }
    const bool passwordWrong = result.status == Status::WrongPassword || result.status == Status::WrongPasswordOrDamage;
    if (!passwordWrong || !format.asksAgain) {
        fail(job, ending);
        return;
    }
    qCWarning(format.log, "%s%s", format.failureLog, qUtf8Printable(result.message));
    if (result.status == Status::WrongPassword) {
        MainQueue::async([job] { wrongPassword(job); });
        return;
    }
    MainQueue::async([job, ending, typed = password.value_or(QString())] {
        const auto doubted = doubtedPasswords().constFind(job.path);
        if (doubted != doubtedPasswords().constEnd() && doubted.value() == typed) {
            doubtedPasswords().remove(job.path);
            fail(job, { .outcome = { .status = Status::Damaged, .message = ending.outcome.message } });
            return;
        }
        doubtedPasswords().insert(job.path, typed);
        wrongPassword(job);
    });
}

} // namespace

// The step a job takes after its pre-check: go on, or stop there because
// the pre-check already asked for a password or ended the job.
bool ExtractionJob::readyToExtract(ArchiveReader& reader, const std::optional<QString>& password) const
{
    const ArchiveFormat& traits = *format;
    const Outcome opened = reader.open(password);
    if (!password && reader.needsPassword()) {
        MainQueue::async([job = *this] { job.askPassword(); });
        return false;
    }
    if (opened.status == Status::WrongPassword && password && traits.asksAgain) {
        qCWarning(traits.log, "初始化URKArchive错误: %s", qUtf8Printable(opened.message));
        MainQueue::async([job = *this] { wrongPassword(job); });
        return false;
    }
    if (!opened.ok()) {
        fail(*this, { .outcome = opened });
        return false;
    }
    // The format's quick check first; an archive without password skips it
    // whatever the password.
    if (password && reader.needsPassword() && !reader.checkPassword(*password)) {
        refusePassword(QStringLiteral("wrong password"));
        return false;
    }
    return true;
}

void ExtractionJob::refusePassword(const QString& why) const
{
    qCWarning(format->log, "password refused: %s", qUtf8Printable(why));
    if (format->asksAgain)
        MainQueue::async([job = *this] { wrongPassword(job); });
    else
        fail(*this, { .outcome = { .status = Status::WrongPassword, .message = why } });
}

void ExtractionJob::run(const std::optional<QString>& password) const
{
    // A job that starts after a stop was asked for ends before it writes.
    if (stop.requested()) {
        endWith(*this, { .status = Status::Cancelled, .message = QStringLiteral("stopped") });
        return;
    }
    // The system reads a password only up to a NUL: a password that holds
    // one would be taken for a shorter one.
    if (password && password->contains(QChar(u'\0'))) {
        refusePassword(QStringLiteral("it holds a NUL character"));
        return;
    }
    const std::unique_ptr<ArchiveReader> reader = format->makeReader(path);
    if (readyToExtract(*reader, password))
        extract(*reader, password);
}

void ExtractionJob::extract(ArchiveReader& reader, const std::optional<QString>& password) const
{
    const ArchiveFormat& traits = *format;
    const QString folder = options.ownFolder ? OwnFolder::choose(toPath, path) : toPath;
    EntrySink sink(folder, traits.log, stop);
    StartedToast started;
    ProgressPoster poster(NotifyManager::UnzipProgress(), path,
        traits.floatProgress ? ProgressPoster::Precision::Float : ProgressPoster::Precision::Double);
    sink.progress().setCallback([&](double fraction) {
        if (!options.quiet)
            started.onProgress();
        qCDebug(traits.log, traits.progressLog, fraction);
        poster.report(fraction);
    });
    bool needsPassword = false;
    ExtractRequest request;
    request.password = password;
    request.selection = options.selection;
    request.listed = [&] {
        needsPassword = !password && reader.needsPassword();
        return !needsPassword;
    };
    const Outcome result = reader.extract(sink, request);
    if (needsPassword) {
        MainQueue::async([job = *this] { job.askPassword(); });
        return;
    }
    conclude(*this, password,
        { .outcome = result,
            .kept = sink.keptCount(),
            .keptNames = sink.keptNames(),
            .written = sink.writtenCount(),
            .output = result.ok() && options.ownFolder ? OwnFolder::tidy(toPath, folder) : folder });
}
