#pragma once

#include "engine/StopToken.h"

#include <QString>
#include <optional>
#include <vector>

class ArchiveReader;
struct ArchiveFormat;

// What an extraction may ask for beyond the archive and the destination.
struct ExtractOptions final {
    // The entries to extract, by listing position; none: all of them.
    std::optional<std::vector<bool>> selection;
    // A password the caller already has (the preview asked for it).
    std::optional<QString> password;
    // The entries go into a new folder named after the archive inside the
    // destination, unless the archive holds one item at its top level,
    // which goes straight in.
    bool ownFolder = false;
    // No toasts of progress, success or failure: the caller tells the user
    // itself (an entry opened from the preview). A wrong password is still
    // told, before the sheet asks again.
    bool quiet = false;
};

// One extraction job on its way through the engine: the one flow every
// format goes through, from the reader's first look to the job's last
// notification. Copied into every step it takes (the worker, the password
// sheet), never shared.
struct ExtractionJob final {
    QString path; // the archive: the job's key
    QString toPath;
    const ArchiveFormat* format = nullptr;
    ExtractOptions options;
    StopToken stop;

    // Main thread: reads the archive on the worker pool with `password`,
    // asking for one on the main thread when it is needed, and extracts.
    void start(const std::optional<QString>& password) const;
    // Main thread: the password sheet, then start() with its answer;
    // cancelling it ends the job.
    void askPassword() const;

private:
    void run(const std::optional<QString>& password) const;
    bool readyToExtract(ArchiveReader& reader, const std::optional<QString>& password) const;
    void extract(ArchiveReader& reader, const std::optional<QString>& password) const;
    // Worker thread: a wrong password, told as the format tells it.
    void refusePassword(const QString& why) const;
};
