// The compression half of ZipManager: staging, packing, and the toasts and
// notifications that tell the screens how a job went.
#include "engine/NotifyManager.h"
#include "engine/ProgressPoster.h"
#include "engine/StagingArea.h"
#include "engine/ZipManager.h"
#include "engine/ZipWriter.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/RouterManager.h"

// One line per written entry would drown the log: off unless asked for
// ("QT_LOGGING_RULES=zavrin.engine.zip.progress.debug=true").
Q_LOGGING_CATEGORY(lcZipProgress, "zavrin.engine.zip.progress", QtInfoMsg)

namespace {

void postOnMain(const QString& name, const QVariantMap& object)
{
    MainQueue::async([name, object] { NotificationCenter::defaultCenter().post(name, object); });
}

// Gathers the chosen items in the staging folder, in list order, as links.
// Answers how many were placed; every failure is logged and skipped.
int stage(const QString& staging, const QStringList& items)
{
    QString error;
    if (StagingArea::exists(staging) && !StagingArea::removeItem(staging, &error))
        qCWarning(lcEngineZip, "删除临时文件夹错误: %s", qUtf8Printable(error));
    if (!StagingArea::createFolder(staging, &error))
        qCWarning(lcEngineZip, "创建临时文件夹错误: %s", qUtf8Printable(error));

    int placed = 0;
    for (const QString& item : items) {
        // A second item with a name already taken is refused here.
        if (StagingArea::linkItem(item, staging, &error))
            ++placed;
        else
            qCWarning(lcEngineZip, "复制到临时文件夹错误: %s", qUtf8Printable(error));
    }
    return placed;
}

class CompressionJob final {
public:
    CompressionJob(QString archivePath, QStringList items, std::optional<QString> password, bool needSpeed)
        : m_archivePath(std::move(archivePath))
        , m_items(std::move(items))
        , m_password(std::move(password))
        , m_needSpeed(needSpeed)
    {
    }

    // Worker thread: the whole job, from staging to the last notification.
    void run()
    {
        const bool succeeded = pack();
        if (!succeeded)
            HUD::showErrorWithStatus(L(QStringLiteral("创建压缩文件错误")));
        postOnMain(NotifyManager::JobDidEnd(),
                   {{NotifyManager::pathKey(), m_archivePath}, {NotifyManager::succeededKey(), succeeded}});
    }

private:
    bool pack()
    {
        QString error;
        const QString root = StagingArea::privateRoot(&error);
        if (root.isEmpty()) {
            qCWarning(lcEngineZip, "创建临时文件夹错误: %s", qUtf8Printable(error));
            return false;
        }
        m_staging = root + u'/' + StagingArea::folderName(m_archivePath);
        if (stage(m_staging, m_items) == 0)
            return false;

        const int level = m_needSpeed ? 1 : 9;
        return ZipWriter::createZipFileAtPath(m_archivePath, m_staging, false, level, m_password, true,
                                              [this](std::uint64_t written, std::uint64_t total) {
                                                  onProgress(written, total);
                                              });
    }

    // Worker thread, for every report of the writer. The writer reports
    // written == total only once the archive is complete at its place.
    void onProgress(std::uint64_t written, std::uint64_t total)
    {
        if (!m_started) {
            HUD::showInfoWithStatus(L(QStringLiteral("压缩文件中...")));
            m_started = true;
        }
        const float progress = total == 0 ? 0.0f : static_cast<float>(written) / static_cast<float>(total);
        qCDebug(lcZipProgress, "压缩进度: %f", static_cast<double>(progress));

        // Thinned out for the main thread: 70 000 entries make as many reports.
        m_progress.report(static_cast<double>(progress));
        if (written != total)
            return;

        HUD::showSuccessWithStatus(L(QStringLiteral("压缩完成")));
        MainQueue::async([path = m_archivePath] {
            NotificationCenter::defaultCenter().post(NotifyManager::LocalFilesDidChange(),
                                                     {{NotifyManager::pathKey(), path}});
            RouterManager::showRateAllLife();
        });
        QString error;
        if (!StagingArea::removeItem(m_staging, &error))
            qCWarning(lcEngineZip, "压缩完删除临时文件夹错误: %s", qUtf8Printable(error));
    }

    const QString m_archivePath;
    const QStringList m_items;
    const std::optional<QString> m_password;
    const bool m_needSpeed;
    QString m_staging;
    bool m_started = false;
    ProgressPoster m_progress {NotifyManager::ZipProgress(), m_archivePath, ProgressPoster::Precision::Float};
};

} // namespace

void ZipManager::zipFileAtPath(const QString& path, const QList<FileModel>& files,
                               const std::optional<QString>& password, bool needSpeed)
{
    QStringList items;
    items.reserve(files.size());
    for (const FileModel& file : files)
        items.append(file.path);
    WorkerPool::async([job = std::make_shared<CompressionJob>(path, items, password, needSpeed)] { job->run(); });
}
