#pragma once

#include "engine/StopToken.h"
#include "engine/safety/ProgressMeter.h"
#include "engine/safety/SafeDestination.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

// The one way an archive reader puts entries on the disk: each reader keeps
// only its own library's loop and hands every name and entry to this sink.
// It refuses an archive with an unsafe name before anything is written,
// places entries through SafeDestination (path safety, no overwriting,
// files named only when complete), counts progress and kept files, keeps
// the job's first failure and its password policy, and at the end applies
// the folders' metadata, or, after a wrong password, removes everything the
// job made. One job; entries may be placed and failures recorded from
// several threads at once, between open() and finish(), which are called
// on one.
class EntrySink final {
public:
    // `log` is the reader's logging category (lcEngineZip, …).
    using LogCategory = const QLoggingCategory& (*)();
    EntrySink(QString folder, LogCategory log, StopToken stop = {});

    // The split path for an entry's name. An absolute name, one with "..",
    // or a NUL refuses the whole archive: no value, and the job fails.
    // Call for every name before open().
    std::optional<QStringList> admit(const QString& name);
    // Opens the destination, creating it when missing, and waits for any
    // other job writing into it; false (the job failed or was stopped) when
    // it cannot, or when a name was refused. A job that cannot end with a
    // wrong password (nothing is encrypted) is opened without `undoable`:
    // nothing is kept per entry for a roll-back.
    bool open(bool undoable = true);
    const QString& folder() const { return m_folder; }
    // The job's progress; the reader says what to expect and, where its
    // library reports a fraction, reports it. Bytes written and entries
    // done count by themselves.
    ProgressMeter& progress() { return m_progress; }
    const StopToken& stopToken() const { return m_stop; }

    // True once the job should end: a stop was requested (the job is then
    // cancelled), the disk is full (the job has failed for it, and every
    // entry after would fail the same way) or the password was refused.
    bool stopRequested();

    // Each places one entry; a kept or blocked entry is skipped (logged),
    // a failure is recorded. True when the entry was made. Each but a
    // failure counts as one entry done.
    bool folder(const QStringList& path, const EntryMeta& meta);
    bool link(const QStringList& path, const QByteArray& target, const EntryMeta& meta);
    bool hardLink(const QStringList& path, const QStringList& existing);
    bool copy(const QStringList& path, const QStringList& existing, const EntryMeta& meta);
    bool moveIn(int fromDirFd, const QByteArray& fromName, const QStringList& path);
    // Moves a checked staged folder in whole; false when it cannot (nothing
    // is recorded: the caller moves its entries one by one).
    bool moveFolderIn(int fromDirFd, const QByteArray& fromName, const QStringList& path,
        const std::vector<std::pair<QStringList, EntryMeta>>& folders);
    // Opens the hidden temporary for a file; false when the entry is
    // skipped or failed (then nothing is open, and the entry is done).
    bool beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta);
    // Names the complete file; true when it got its name.
    bool commitFile(PendingFile& file, const EntryMeta& meta);
    // Writes to the pending file; false, with the failure recorded and the
    // file discarded, on a write error.
    bool write(PendingFile& file, const char* data, qint64 size);
    // Discards the pending file after the write error `error` (an errno).
    void fileFailed(PendingFile& file, int error);
    // Discards the pending file of an entry that failed for a reason the
    // caller records.
    void discard(PendingFile& file);
    // Counts an entry that was passed over without a placement call.
    void entrySkipped() { m_progress.entryDone(); }
    // Counts entries placed with a folder moved in whole.
    void countMovedIn(qint64 entries) { m_written += entries; }
    // True when anything at all is at `path`; kept and counted when so.
    bool keepIfTaken(const QStringList& path);
    // True when the open folder `fd` is the destination.
    bool isDestination(int fd) const;

    // Records a failure. The first one is the job's result, except that a
    // wrong password outranks any but a stop: it explains what failed before.
    void fail(const QString& message, Outcome::Status status = Outcome::Status::Failed);
    void fail(const Outcome& outcome) { fail(outcome.message, outcome.status); }
    bool hasFailed() const;

    // The password policy. An encrypted entry that decodes to its end with
    // a matching checksum or authentication code proves the password:
    // nothing will be rolled back any more, what was kept for it is let go,
    // and failures of encrypted entries are damage from then on. Before
    // that, an entry that refuses the password outright ends the job as a
    // wrong password, and one whose data fails its check leaves the password
    // in doubt: unless another entry confirms it, the job ends as
    // WrongPasswordOrDamage. Either way nothing of the job is left.
    void passwordConfirmed();
    void passwordRefused(const QString& message);
    void encryptedEntryFailed(const QString& message);
    bool isPasswordConfirmed() const { return m_passwordConfirmed; }

    // Ends the job: the folders' times and modes, or, when the password
    // was wrong, removal of everything made; a failed job also removes the
    // destination when it made it and it is empty. Reports progress 1 when
    // the job succeeded.
    Outcome finish();

    // Existing files kept instead of written, and the first of their names.
    qint64 keptCount() const { return m_kept; }
    QStringList keptNames() const;
    // Entries placed on the disk.
    qint64 writtenCount() const { return m_written; }

    static constexpr qsizetype kKeptNamesKept = 1000;

private:
    bool placed(const Outcome& outcome);

    QString m_folder;
    LogCategory m_log;
    StopToken m_stop;
    ProgressMeter m_progress;
    std::optional<SafeDestination> m_destination;
    mutable std::mutex m_resultMutex;
    Outcome m_result;
    QStringList m_keptNames; // under m_resultMutex
    std::atomic<qint64> m_kept = 0;
    std::atomic<qint64> m_written = 0;
    std::atomic<bool> m_passwordConfirmed = false;
    std::atomic<bool> m_passwordInDoubt = false;
    std::atomic<bool> m_halt = false; // disk full or password refused
};

// Tells whether the order in which a job's entries are placed decides what
// ends up on the disk: two entries with one name (unless both are folders),
// or a file or link whose name is a folder on another entry's way. Only
// when it does not may a reader place entries on several threads. Hashes
// stand in for the names: a collision only costs the parallel extraction.
class EntryOrder final {
public:
    void add(const QStringList& path, bool folder);
    bool matters();

private:
    std::vector<std::size_t> m_leaves; // files and links
    std::vector<std::size_t> m_folders; // folder entries and every folder on a way
};
