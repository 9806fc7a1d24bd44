#pragma once

#include "platform/Outcome.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <ctime>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <vector>

// What an archive stores about an entry besides its name and data.
struct EntryMeta {
    std::optional<mode_t> mode; // permission bits as stored; none: the umask's default
    std::optional<timespec> mtime;
};

// A file being written: a hidden temporary in the target's folder that only
// gets its final name once it is complete (see SafeDestination::commitFile).
class SafeDestination;

class PendingFile final {
public:
    PendingFile() = default;
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Writes all of `data`; false (with errno kept) on a write error.
    bool write(const char* data, qint64 size);
    // Moves on by `bytes` without writing, leaving a hole (sparse files);
    // one at the end is made part of the file when it is committed. False
    // (with errno kept) when the system refuses.
    bool skip(qint64 bytes);
    bool isOpen() const { return m_fd >= 0; }
    const QStringList& path() const { return m_path; }

private:
    friend class SafeDestination;
    void discard();

    int m_fd = -1;
    int m_dirFd = -1; // the folder's descriptor, a copy of its own
    mode_t m_mode = 0; // as created, after the umask
    bool m_unnamed = false; // made with O_TMPFILE: named by a link when complete
    bool m_endsInHole = false; // skipped past the data written last
    QByteArray m_tempName;
    QByteArray m_finalName;
    QStringList m_path;
};

// The one place where extracted entries reach the file system; every back-end
// goes through it. Guarantees, whatever the archive says:
//  - nothing is created outside the destination folder: names are split into
//    components by `splitEntryName`, which refuses absolute names and "..";
//  - nothing is written through a link: each folder below the destination is
//    entered with O_NOFOLLOW, so a link (or a file) in the way blocks the entry;
//  - nothing is overwritten: anything already at a target path (file, folder,
//    link, dangling link) is kept and the entry is skipped;
//  - a file gets its name only when complete (a link or rename that never
//    replaces), and one given up or cut short by a crash leaves nothing where
//    the system allows files without a name;
//  - links are created only when their target stays inside the destination.
// Every operation answers Done (created; for a folder, also one this job
// made before), Kept (something is already there: kept, entry skipped),
// Blocked (a link or a file stands where a folder is needed, or a link
// would escape) or a failure with its message: NoSpace for a full disk,
// Failed for any other file-system error.
// One instance serves one job. Entries may be placed from several threads
// at once (a pending file is written by one thread); finish() and
// rollBack() come after the last of them.
class SafeDestination final {
public:
    // Opens `folder`, creating it when missing. Without `undoable`, what is
    // made is not recorded and rollBack() removes nothing: for jobs that
    // cannot end with a wrong password, which then keep nothing per entry.
    explicit SafeDestination(const QString& folder, bool undoable = true);
    ~SafeDestination();
    SafeDestination(const SafeDestination&) = delete;
    SafeDestination& operator=(const SafeDestination&) = delete;

    bool isOpen() const { return m_rootFd >= 0; }
    int rootFd() const { return m_rootFd; }
    // Why the folder could not be opened.
    const Outcome& openFailure() const { return m_openFailure; }

    // Splits an entry name at "/" (empty and "." components dropped). No
    // value for an absolute name, one with a ".." component or a NUL.
    static std::optional<QStringList> splitEntryName(const QString& name);
    // True when a link at `linkPath` pointing to `target` resolves inside the
    // destination, given that no folder on the way is a link: a relative
    // target whose ".." components all come first and do not climb above
    // the destination. A target with a NUL never does.
    static bool linkStaysInside(const QStringList& linkPath, const QByteArray& target);

    Outcome makeDirectory(const QStringList& path, const EntryMeta& meta);
    Outcome makeSymlink(const QStringList& path, const QByteArray& target, const EntryMeta& meta);
    // Creates the temporary, already with the entry's mode as far as the
    // umask allows. Existing when anything is at `path` already.
    Outcome beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta = {});
    // Sets mode and times, then gives the file its final name. Existing when
    // something took the name meanwhile (the temporary is removed).
    Outcome commitFile(PendingFile& file, const EntryMeta& meta);
    void discardFile(PendingFile& file) { file.discard(); }
    // Moves a file or link from a staging folder on the same file system into
    // place, with the same rules (links are checked like makeSymlink's).
    Outcome moveIn(int fromDirFd, const QByteArray& fromName, const QStringList& path);
    // Moves a staged folder, every item of which the caller has checked,
    // into place with one rename when nothing is at `path` yet; Kept
    // otherwise, and whenever the rename fails: the caller then moves its
    // entries one by one. `folders` (itself included) get their metadata at
    // finish(), as folders made here do.
    Outcome moveCheckedFolderIn(int fromDirFd, const QByteArray& fromName, const QStringList& path,
        const std::vector<std::pair<QStringList, EntryMeta>>& folders);
    // True when anything at all (a dangling link too) is at `path`.
    bool isTaken(const QStringList& path);
    // Gives the regular file at `existing`, which the caller placed there
    // in this job, a second name `path` (a hard link). Existing when
    // anything is at `path`, Blocked when `existing` is not a regular file.
    Outcome hardLinkEntry(const QStringList& path, const QStringList& existing);
    // Writes a copy of the regular file at `existing` (placed there by the
    // caller in this job) under `path`, as beginFile and commitFile do.
    Outcome copyEntry(const QStringList& path, const QStringList& existing, const EntryMeta& meta);
    // Applies the stored times and modes of the folders this job created;
    // call once after the last entry.
    bool finish();
    // Removes, newest first, every file, link and folder this object made
    // entry by entry (not folders moved in whole), so that a job that must
    // leave nothing (a wrong password) leaves nothing. A folder that holds
    // something else by now stays. Call instead of finish().
    void rollBack();
    // Stops recording what is made and lets the records go: nothing will
    // be rolled back.
    void forgetMade();

    // The process's umask, read without changing it.
    static mode_t umaskValue();

    // Testing seam: off, files are written under hidden temporary names, as
    // on file systems that cannot make files without a name.
    static void setUnnamedFilesForTesting(bool on);

private:
    friend class PendingFile;
    // Opens (creating when `create`) the folder `path`; -1 with `result` set otherwise.
    int openFolder(const QStringList& path, bool create, Outcome* result);
    // Opens the folder holding the last component of `path` and checks that
    // component's name; -1 with `*result` set when either fails.
    int openParent(const QStringList& path, bool create, QByteArray* name, Outcome* result);
    Outcome checkName(const QByteArray& name, const QStringList& path);
    Outcome nameUnnamedFile(PendingFile& file);
    Outcome failed(const QString& what, const QStringList& path, int error);
    Outcome blocked(const QString& why, const QStringList& path);
    void noteMade(const QStringList& path, bool folder);
    void closeCachedFolders();

    // Guards the folder cache and the records below; file data and the
    // calls on a pending file's own descriptors run outside it.
    std::mutex m_mutex;
    int m_rootFd = -1;
    long m_nameMax = 255;
    Outcome m_openFailure;
    QHash<QString, int> m_folderFds; // relative path -> descriptor
    QSet<QString> m_createdFolders;
    std::vector<std::pair<QStringList, EntryMeta>> m_folderMeta;
    // Joined path, is a folder; in order of making (when undoable).
    std::vector<std::pair<QString, bool>> m_made;
    bool m_undoable = true;
};
