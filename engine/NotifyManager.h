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

    // Our own addition for front ends that must know when a job is over
    // however it ended (the command-line front end exits on it): posted on
    // the main thread exactly once per job, after the job's last other
    // notification, with "path", "succeeded" (bool) and:
    //  - "status": how it ended, an Outcome::statusName() ("Done",
    //    "NoSpace", "WrongPassword", "Cancelled", …);
    //  - "subject": the name the outcome is about (the archive, or the item
    //    or entry that failed), for the user; may be empty;
    //  - "reason": what went wrong, for the log and the terminal (failures);
    //  - "kept": how many existing files the job kept instead of writing
    //    (extraction), and "keptNames": the first of them (at most 1000);
    //  - "written": how many entries the job placed (extraction);
    //  - "output": the folder that received the files (extraction).
    static QString JobDidEnd() { return QStringLiteral("Zavrin.JobDidEnd"); }

    static QString pathKey() { return QStringLiteral("path"); }
    static QString progressKey() { return QStringLiteral("progress"); }
    static QString succeededKey() { return QStringLiteral("succeeded"); }
    static QString reasonKey() { return QStringLiteral("reason"); }
    static QString statusKey() { return QStringLiteral("status"); }
    static QString subjectKey() { return QStringLiteral("subject"); }
    static QString keptKey() { return QStringLiteral("kept"); }
    static QString keptNamesKey() { return QStringLiteral("keptNames"); }
    static QString writtenKey() { return QStringLiteral("written"); }
    static QString outputKey() { return QStringLiteral("output"); }
};
