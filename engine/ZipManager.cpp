// The extraction half of ZipManager: the named entry points, each a thin
// way into the one extraction flow (ExtractionJob) with the format the
// archive's name selects.
#include "engine/ZipManager.h"

#include "engine/ArchiveListing.h"
#include "engine/ExtractionJob.h"
#include "engine/JobRegistry.h"
#include "engine/NotifyManager.h"
#include "engine/extract/ArchiveFormats.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

namespace {

ExtractionJob makeJob(const QString& path, const QString& toPath, const ArchiveFormat* format)
{
    ExtractionJob job;
    job.path = path;
    job.toPath = toPath;
    job.format = format;
    job.stop = JobRegistry::begin(path);
    return job;
}

void refuseFormat(const QString& path)
{
    HUD::showInfoWithStatus(L(QStringLiteral("暂不支持的解压格式")));
    MainQueue::async([path] {
        NotificationCenter::defaultCenter().post(NotifyManager::JobDidEnd(),
            { { NotifyManager::pathKey(), path }, { NotifyManager::succeededKey(), false },
                { NotifyManager::statusKey(), Outcome::statusName(Outcome::Status::Unsupported) },
                { NotifyManager::subjectKey(), path.section(u'/', -1) } });
    });
}

// The named entry points of one format: `password` none asks for one when
// the archive needs it.
void startAs(const QString& type, const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    makeJob(path, toPath, ArchiveFormats::forType(type)).start(password);
}

} // namespace

ZipManager& ZipManager::shared()
{
    static ZipManager manager;
    return manager;
}

void ZipManager::unzipFileAtPath(const QString& path, const QString& toPath)
{
    extract(path, toPath, {});
}

void ZipManager::extract(const QString& path, const QString& toPath, const ExtractOptions& options)
{
    const ArchiveFormat* format = ArchiveFormats::forPath(path);
    if (!format) {
        refuseFormat(path);
        return;
    }
    ExtractionJob job = makeJob(path, toPath, format);
    job.options = options;
    job.start(options.password);
}

bool ZipManager::canExtract(const QString& path)
{
    return ArchiveFormats::forPath(path) != nullptr;
}

QStringList ZipManager::extractableSuffixes()
{
    QStringList suffixes;
    for (const ArchiveFormat& format : ArchiveFormats::all())
        suffixes += format.suffixes;
    // The parts of split sets: "x.7z.001", "x.z01".
    suffixes << QStringLiteral("7z.[0-9][0-9][0-9]") << QStringLiteral("z[0-9][0-9]");
    return suffixes;
}

bool ZipManager::stopJob(const QString& jobKey)
{
    return JobRegistry::stop(jobKey);
}

void ZipManager::list(
    const QString& path, const std::optional<QString>& password, const StopToken& stop, ListCompletion completion)
{
    const ArchiveFormat* format = ArchiveFormats::forPath(path);
    if (!format) {
        MainQueue::async([completion] {
            completion({ .status = Outcome::Status::Unsupported, .message = QStringLiteral("not an archive we read") },
                nullptr);
        });
        return;
    }
    WorkerPool::async([path, password, stop, format, completion] {
        const std::unique_ptr<ArchiveReader> reader = format->makeReader(path);
        auto listing = std::make_shared<ArchiveListing>();
        Outcome result = reader->open(password);
        if (result.ok()) {
            result = reader->list([&](const ArchiveEntry& entry) {
                listing->append(entry);
                return !stop.requested();
            });
        }
        if (result.ok() && stop.requested())
            result = { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
        listing->needsPassword = reader->needsPassword();
        listing->password = password;
        MainQueue::async(
            [completion, result, listing = result.ok() ? listing : nullptr] { completion(result, listing); });
    });
}

void ZipManager::showNeedPasswordWithPath(const QString& path, const QString& toPath, const QString& type)
{
    if (const ArchiveFormat* format = ArchiveFormats::forType(type))
        makeJob(path, toPath, format).askPassword();
}

void ZipManager::unzipedFileAtPath(const QString& path, const QString& toPath)
{
    startAs(QStringLiteral("zip"), path, toPath, std::nullopt);
}

void ZipManager::unzipFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    startAs(QStringLiteral("zip"), path, toPath, password);
}

void ZipManager::unrarFileAtPath(const QString& path, const QString& toPath)
{
    startAs(QStringLiteral("rar"), path, toPath, std::nullopt);
}

void ZipManager::unrarFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    startAs(QStringLiteral("rar"), path, toPath, password);
}

void ZipManager::un7zFileAtPath(const QString& path, const QString& toPath)
{
    startAs(QStringLiteral("7z"), path, toPath, std::nullopt);
}

void ZipManager::un7zFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password)
{
    startAs(QStringLiteral("7z"), path, toPath, password);
}
