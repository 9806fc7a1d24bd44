// The compression half of ZipManager: staging, packing, and the toasts and
// notifications that tell the screens how a job went.
#include "engine/NotifyManager.h"
#include "engine/ProgressPoster.h"
#include "engine/StopToken.h"
#include "engine/ZipManager.h"
#include "engine/zipwrite/ArchiveWriter.h"
#include "engine/zipwrite/StagingArea.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/RouterManager.h"

#include <QFile>
#include <algorithm>
#include <cmath>

namespace {

// One line per written entry would drown the log: off unless asked for
// ("QT_LOGGING_RULES=zavrin.engine.zip.progress.debug=true").
Q_LOGGING_CATEGORY(lcZipProgress, "zavrin.engine.zip.progress", QtInfoMsg)

void postOnMain(const QString& name, const QVariantMap& object)
{
    MainQueue::async([name, object] { NotificationCenter::defaultCenter().post(name, object); });
}

class CompressionJob final {
public:
    // `replaceExisting`: see ArchiveWriter::Request.
    CompressionJob(QString archivePath, QStringList items, CompressionOptions options, bool replaceExisting)
        : m_archivePath(std::move(archivePath))
        , m_items(std::move(items))
        , m_options(std::move(options))
        , m_replaceExisting(replaceExisting)
    {
    }

    // Worker thread: the whole job, from staging to the last notification.
    void run()
    {
        const Outcome result = pack();
        if (result.status == Outcome::Status::Cancelled) {
            qCInfo(lcEngineZip, "compression stopped: %s", qUtf8Printable(m_archivePath));
        } else if (!result.ok()) {
            qCWarning(lcEngineZip, "compression failed: %s", qUtf8Printable(result.message));
            HUD::showErrorWithStatus(L(QStringLiteral("创建压缩文件错误")));
        }
        QVariantMap end { { NotifyManager::pathKey(), m_archivePath }, { NotifyManager::succeededKey(), result.ok() },
            { NotifyManager::statusKey(), Outcome::statusName(result.status) },
            { NotifyManager::subjectKey(), m_archivePath } };
        if (!result.ok())
            end.insert(NotifyManager::reasonKey(), result.message);
        postOnMain(NotifyManager::JobDidEnd(), end);
    }

private:
    // Gathers the chosen items in this job's own staging folder, in list
    // order, as links. An item that cannot be placed, a second item with a
    // name already taken included, fails the job: the archive would miss
    // something the user chose.
    Outcome stage(StagingArea& staging)
    {
        if (!staging.isValid()) {
            qCWarning(lcEngineZip, "创建临时文件夹错误: %s", qUtf8Printable(staging.openFailure().message));
            return staging.openFailure();
        }
        for (const QString& item : m_items) {
            if (m_stop.requested())
                return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
            const Outcome placed = staging.linkItem(item);
            if (!placed.ok()) {
                qCWarning(lcEngineZip, "复制到临时文件夹错误: %s", qUtf8Printable(placed.message));
                return placed;
            }
        }
        if (staging.items().empty())
            return { .status = Outcome::Status::NothingToPack, .message = QStringLiteral("nothing to pack") };
        return {};
    }

    Outcome pack()
    {
        if (Outcome refused = ArchiveWriter::check(m_options); !refused.ok())
            return refused;
        StagingArea staging(m_archivePath);
        Outcome result = stage(staging);
        if (result.ok()) {
            // The list is made from what this job placed, in the order
            // chosen; the staged links are never read back.
            const std::string archive = QFile::encodeName(m_archivePath).toStdString();
            std::vector<ZipEntry> entries;
            result = ZipEntryList::listItems(staging.items(), archive, &entries);
            if (result.ok()) {
                const ArchiveWriter::Request request { archive, m_options, m_replaceExisting, m_stop };
                m_staging = &staging;
                result = ArchiveWriter::write(request, staging.items(), entries,
                    [this](std::uint64_t done, std::uint64_t total) { onProgress(done, total); });
                m_staging = nullptr;
            }
        }
        // A failed job's staging folder stays for the next job to clear; a
        // stopped one (the program is quitting) leaves nothing behind.
        if (result.status == Outcome::Status::Cancelled)
            staging.remove();
        return result;
    }

    // Worker thread, for every report of the writer (by bytes and entries).
    // The writer reports done == total only once the archive is complete at
    // its place.
    void onProgress(std::uint64_t done, std::uint64_t total)
    {
        if (!m_started) {
            HUD::showInfoWithStatus(L(QStringLiteral("压缩文件中...")));
            m_started = true;
        }
        float progress = total == 0 ? 0.0f : static_cast<float>(done) / static_cast<float>(total);
        // Rounding to a float must not make an unfinished job look complete.
        if (done != total)
            progress = std::min(progress, std::nextafter(1.0f, 0.0f));
        qCDebug(lcZipProgress, "压缩进度: %f", static_cast<double>(progress));

        // Thinned out for the main thread: 70 000 entries make as many reports.
        m_progress.report(static_cast<double>(progress));
        if (done != total)
            return;

        HUD::showSuccessWithStatus(L(QStringLiteral("压缩完成")));
        MainQueue::async([path = m_archivePath] {
            NotificationCenter::defaultCenter().post(
                NotifyManager::LocalFilesDidChange(), { { NotifyManager::pathKey(), path } });
            RouterManager::showRateAllLife();
        });
        if (const Outcome removed = m_staging->remove(); !removed.ok())
            qCWarning(lcEngineZip, "压缩完删除临时文件夹错误: %s", qUtf8Printable(removed.message));
    }

    const QString m_archivePath;
    const QStringList m_items;
    const CompressionOptions m_options;
    const bool m_replaceExisting;
    const StopToken m_stop; // this job's own
    StagingArea* m_staging = nullptr; // while the archive is written
    bool m_started = false;
    ProgressPoster m_progress { NotifyManager::ZipProgress(), m_archivePath, ProgressPoster::Precision::Float };
};

} // namespace

namespace {

QStringList pathsOf(const QList<FileModel>& files)
{
    QStringList items;
    items.reserve(files.size());
    for (const FileModel& file : files)
        items.append(file.path);
    return items;
}

} // namespace

void ZipManager::zipFileAtPath(
    const QString& path, const QList<FileModel>& files, const std::optional<QString>& password, bool needSpeed)
{
    CompressionOptions options;
    options.mode = needSpeed ? CompressionOptions::Mode::Fastest : CompressionOptions::Mode::Maximum;
    options.password = password;
    // The save panel asked before a file there is replaced.
    WorkerPool::async([job = std::make_shared<CompressionJob>(path, pathsOf(files), options, true)] { job->run(); });
}

void ZipManager::compressFiles(const QString& path, const QList<FileModel>& files, const CompressionOptions& options)
{
    WorkerPool::async([job = std::make_shared<CompressionJob>(path, pathsOf(files), options, false)] { job->run(); });
}
