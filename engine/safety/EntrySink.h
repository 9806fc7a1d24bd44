#pragma once

#include "engine/ExtractProgress.h"
#include "engine/safety/SafeDestination.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

// The one way an archive back-end puts entries on the disk: each reader
// keeps only its own library's loop and hands every name and entry to this
// sink. It refuses an archive with an unsafe name before anything is
// written, places entries through SafeDestination (path safety, no
// overwriting, files named only when complete), keeps the job's first
// failure, and at the end applies the folders' metadata, or, after a wrong
// password, removes everything the job made. One job; entries may be placed
// and failures recorded from several threads at once, between open() and
// finish(), which are called on one.
class EntrySink final {
public:
    // `log` is the back-end's logging category (lcEngineZip, …).
    using LogCategory = const QLoggingCategory& (*)();
    EntrySink(QString folder, LogCategory log);

    // The split path for an entry's name. An absolute name, one with "..",
    // or a NUL refuses the whole archive: no value, and the job fails.
    // Call for every name before open().
    std::optional<QStringList> admit(const QString& name);
    // Opens the destination, creating it when missing; false (the job
    // failed) when it cannot, or when a name was refused. A job that
    // cannot end with a wrong password (nothing is encrypted) is opened
    // without `undoable`: nothing is kept per entry for a roll-back.
    bool open(bool undoable = true);
    SafeDestination& destination() { return *m_destination; }

    // True once the job should end: a stop was requested (JobStop; the job
    // is then cancelled) or the disk is full (the job has failed for it,
    // and every entry after would fail the same way).
    bool stopRequested();

    // Each places one entry; a kept or blocked entry is skipped (logged),
    // a failure is recorded. True when the entry was made.
    bool folder(const QStringList& path, const EntryMeta& meta);
    bool link(const QStringList& path, const QByteArray& target, const EntryMeta& meta);
    bool hardLink(const QStringList& path, const QStringList& existing);
    bool copy(const QStringList& path, const QStringList& existing, const EntryMeta& meta);
    bool moveIn(int fromDirFd, const QByteArray& fromName, const QStringList& path);
    // Opens the hidden temporary for a file; false when the entry is
    // skipped or failed (then nothing is open).
    bool beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta);
    // Names the complete file; true when it got its name.
    bool commitFile(PendingFile& file, const EntryMeta& meta);
    // Writes to the pending file; false, with the failure recorded and the
    // file discarded, on a write error.
    bool write(PendingFile& file, const char* data, qint64 size);
    // Discards the pending file after the write error `error` (an errno).
    void fileFailed(PendingFile& file, int error);

    // Records a failure. The first one is the job's result, except that a
    // wrong password outranks any but a stop: it explains what failed before.
    void fail(const QString& message, Outcome::Status status = Outcome::Status::Failed);
    void fail(const Outcome& outcome) { fail(outcome.message, outcome.status); }
    bool hasFailed() const;
    // An encrypted entry decoded right: the password is not wrong, so
    // nothing will be rolled back and what was kept for it is let go (it
    // grows with every entry). A wrong password reported from now on is
    // recorded as a plain failure.
    void passwordConfirmed();

    // Ends the job: the folders' times and modes, or, when the password
    // was wrong, removal of everything made. `progress` gets 1.0 when the
    // job succeeded.
    Outcome finish(const ExtractProgress& progress = {});

private:
    bool placed(const Outcome& outcome);

    QString m_folder;
    LogCategory m_log;
    std::optional<SafeDestination> m_destination;
    mutable std::mutex m_resultMutex;
    Outcome m_result;
    bool m_passwordConfirmed = false;
    std::atomic<bool> m_diskFull = false;
};

// Tells whether the order in which a job's entries are placed decides what
// ends up on the disk: two entries with one name (unless both are folders),
// or a file or link whose name is a folder on another entry's way. Only
// when it does not may a back-end place entries on several threads. Hashes
// stand in for the names: a collision only costs the parallel extraction.
class EntryOrder final {
public:
    void add(const QStringList& path, bool folder);
    bool matters();

private:
    std::vector<std::size_t> m_leaves; // files and links
    std::vector<std::size_t> m_folders; // folder entries and every folder on a way
};
