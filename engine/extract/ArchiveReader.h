#pragma once

#include "platform/Outcome.h"

#include <QString>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

class EntrySink;

// One entry as an archive lists it, before any safety check.
struct ArchiveEntry final {
    enum class Kind {
        File,
        Folder,
        Link, // a symbolic link
        HardLink, // a second name of an earlier entry (rar, tar)
        Special, // a device, FIFO or socket: listed, never extracted
    };

    QString path; // as stored, decoded, '/'-separated
    Kind kind = Kind::File;
    qint64 size = -1; // content bytes; -1 when the archive does not say
    qint64 packedSize = -1; // stored bytes; -1 when unknown (solid blocks, tar)
    std::optional<timespec> mtime;
    bool encrypted = false;
};

// One extraction asked of a reader.
struct ExtractRequest final {
    // No value: the archive is read without a password.
    std::optional<QString> password;
    // The entries to extract, as indices in listing order (list()); no
    // value: all of them. A folder's entries are not implied: callers name
    // every entry they want.
    std::optional<std::vector<bool>> selection;
    // Called once the reader knows what the archive holds and before
    // anything reaches the destination; false ends the job Cancelled with
    // nothing written. Used to stop for a password that turned out to be
    // needed (needsPassword() is known by then).
    std::function<bool()> listed;
};

// What every archive format offers the extraction engine. One reader per
// archive and job, on the job's worker thread; every operation blocks. A
// reader only reads: every entry reaches the disk through the job's
// EntrySink, which holds the path-safety rules, the stop token, the
// progress and the password policy.
class ArchiveReader {
public:
    virtual ~ArchiveReader() = default;

    // Reads what the reader needs before extracting: for most formats the
    // whole listing. `password` is used where names are encrypted. Failed
    // when the file cannot be read as this format; WrongPassword when its
    // names are encrypted and `password` does not decrypt them.
    virtual Outcome open(const std::optional<QString>& password) = 0;
    // True when a password is needed: the names or any entry encrypted.
    // Some formats know it only once listed (after extract()'s `listed`).
    virtual bool needsPassword() const = 0;
    // A quick check before extracting, after open() with the same
    // password. False only when the password is certainly wrong; where the
    // format has no quick check it passes and extract() decides.
    virtual bool checkPassword(const QString& password) = 0;
    // Every entry in listing order, after open(); `onEntry` answers false
    // to stop early.
    virtual Outcome list(const std::function<bool(const ArchiveEntry&)>& onEntry) = 0;
    // Extracts into `sink` and returns the job's outcome (sink.finish()).
    virtual Outcome extract(EntrySink& sink, const ExtractRequest& request) = 0;

protected:
    ArchiveReader() = default;
    ArchiveReader(const ArchiveReader&) = default;
    ArchiveReader& operator=(const ArchiveReader&) = default;
};
