#pragma once

#include "engine/ExtractionJob.h"
#include "engine/JobModels.h"
#include "engine/zipwrite/CompressionOptions.h"
#include "platform/Outcome.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class ArchiveListing;

// Extracts archives of every format ArchiveFormats knows and creates zip
// archives. Its operations
// return at once and report through NotifyManager notifications (keyed by
// the job's path), toasts and log lines; the heavy work of each job runs on
// the worker pool. Call every operation on the main thread. The instance
// holds no job state: concurrent jobs are told apart by their paths.
class ZipManager final {
public:
    static ZipManager& shared();

    // --- Extraction ---------------------------------------------------------
    // Entry of every extraction: picks the format by the file's name
    // (ArchiveFormats::forPath); anything else ends with the toast
    // "暂不支持的解压格式".
    void unzipFileAtPath(const QString& path, const QString& toPath);
    // The same with what the caller chose beyond the destination: a
    // selection of entries, a password it already has.
    void extract(const QString& path, const QString& toPath, const ExtractOptions& options);
    // True when a format reads the file by its name (ArchiveFormats: any
    // case, double suffixes and volume names first). Any thread.
    static bool canExtract(const QString& path);
    // Every suffix an extraction reads ("zip", "tar.gz", "7z.[0-9][0-9][0-9]",
    // …), for file panels' filters.
    static QStringList extractableSuffixes();
    // Asks the running jobs whose key is `jobKey` to stop; false when none runs.
    bool stopJob(const QString& jobKey);
    // Lists the archive on the worker pool; `completion` gets the outcome
    // and, when it succeeded, the listing, on the main thread. WrongPassword
    // when the names are encrypted and `password` does not open them (ask
    // for one and list again); Cancelled once `stop` is requested.
    using ListCompletion = std::function<void(const Outcome&, std::shared_ptr<const ArchiveListing>)>;
    void list(
        const QString& path, const std::optional<QString>& password, const StopToken& stop, ListCompletion completion);
    // The named ways into one format's flow (a password of none asks for
    // one when the archive needs it; a wrong one asks again for zip and
    // rar, and fails a 7z job).
    // zip: prompts for a password when the archive needs one, else extracts.
    void unzipedFileAtPath(const QString& path, const QString& toPath);
    // zip: checks the password (wrong: toast and prompt again) and extracts.
    void unzipFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password);
    void unrarFileAtPath(const QString& path, const QString& toPath);
    void unrarFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password);
    void un7zFileAtPath(const QString& path, const QString& toPath);
    void un7zFileAtPath(const QString& path, const QString& toPath, const std::optional<QString>& password);
    // Shows the password sheet and continues with the operation for `type`
    // ("zip", "rar" or "7z"); cancel posts "NotifyManager.ProcessCancel".
    void showNeedPasswordWithPath(const QString& path, const QString& toPath, const QString& type);

    // --- Compression --------------------------------------------------------
    // Packs `files` into a new zip at `path` (level 1 when `needSpeed`, else
    // 9), every entry AES-256 encrypted when `password` has a value. A file
    // at `path` is replaced by the complete archive.
    void zipFileAtPath(
        const QString& path, const QList<FileModel>& files, const std::optional<QString>& password, bool needSpeed);
    // Packs `files` into a new archive at `path` in the format, mode and
    // password of `options`, reporting as zipFileAtPath does. A file at
    // `path` is never replaced: the job then fails (status "NameTaken").
    void compressFiles(const QString& path, const QList<FileModel>& files, const CompressionOptions& options);

private:
    ZipManager() = default;
};
