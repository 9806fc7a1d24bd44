#pragma once

#include <QString>

// Names and payload keys of the notifications through which the engine
// reports on a job. Every payload travels as the notification's object and
// carries the job key under "path".
class NotifyManager final {
public:
    // Compression progress: "progress" (float, 0–1), "path". Main thread.
    static QString ZipProgress() { return QStringLiteral("NotifyManager.ZipProgress"); }
    // Extraction progress: "progress" (0–1), "path". Main thread.
    static QString UnzipProgress() { return QStringLiteral("NotifyManager.UnzipProgress"); }
    // A job finished successfully: "path". Main thread.
    static QString LocalFilesDidChange() { return QStringLiteral("NotifyManager.LocalFilesDidChange"); }
    // The password sheet was cancelled, or a 7z extraction failed: "path".
    static QString ProcessCancel() { return QStringLiteral("NotifyManager.ProcessCancel"); }

    static QString pathKey() { return QStringLiteral("path"); }
    static QString progressKey() { return QStringLiteral("progress"); }
};
