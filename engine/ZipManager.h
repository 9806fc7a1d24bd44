#pragma once

#include "engine/JobModels.h"
#include "engine/zipwrite/CompressionOptions.h"

#include <QList>
#include <QString>
#include <optional>

// Extracts zip, rar and 7z archives and creates zip archives. Its operations
// return at once and report through NotifyManager notifications (keyed by
// the job's path), toasts and log lines; the heavy work of each job runs on
// the worker pool. Call every operation on the main thread. The instance
// holds no job state: concurrent jobs are told apart by their paths.
class ZipManager final {
public:
    static ZipManager& shared();

    // --- Extraction ---------------------------------------------------------
    // Entry of every extraction: dispatches on the exact extension ("zip",
    // "rar", "7z"); anything else ends with the toast "暂不支持的解压格式".
    void unzipFileAtPath(const QString& path, const QString& toPath);
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
