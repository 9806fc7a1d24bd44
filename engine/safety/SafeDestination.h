#pragma once

#include "engine/safety/OpenFolders.h"
#include "engine/safety/UndoLog.h"
#include "platform/Outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ctime>
#include <functional>
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
//    components by EntryNames::split, which refuses absolute names and "..";
//  - nothing is written through a link: each folder below the destination is
//    entered with O_NOFOLLOW (OpenFolders), so a link or a file in the way
//    blocks the entry;
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
// NoPermission when the system refuses, Failed for any other error.
// One instance serves one job. Entries may be placed from several threads
// at once (a pending file is written by one thread); finish() and
// rollBack() come after the last of them.
class SafeDestination final {
public:
    // Opens `folder`, creating it (and what is missing above it) when
    // missing. Without `undoable`, what is made is not recorded and
    // rollBack() removes nothing: for jobs that cannot end with a wrong
    // password, which then keep nothing per entry.
    explicit SafeDestination(const QString& folder, bool undoable = true);
    ~SafeDestination();
    SafeDestination(const SafeDestination&) = delete;
    SafeDestination& operator=(const SafeDestination&) = delete;

    bool isOpen() const { return m_rootFd >= 0; }
    int rootFd() const { return m_rootFd; }
    // Why the folder could not be opened.
    const Outcome& openFailure() const { return m_openFailure; }
    // Waits until no other job, of this process or another, writes into the
    // same folder, and holds it for this job until the object goes; a job
    // coming later then finds this one's files complete. Cancelled when
    // `stopped` answers true while waiting. File systems without advisory
    // locks are not waited on.
    Outcome claim(const std::function<bool()>& stopped);

    Outcome makeDirectory(const QStringList& path, const EntryMeta& meta);
    Outcome makeSymlink(const QStringList& path, const QByteArray& target, const EntryMeta& meta);
    // Creates the temporary, already with the entry's mode as far as the
    // umask allows. Kept when anything is at `path` already.
    Outcome beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta = {});
    // Sets mode and times, then gives the file its final name. Kept when
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
    // in this job, a second name `path` (a hard link). Kept when anything
    // is at `path`, Blocked when `existing` is not a regular file.
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
    // Removes the destination folder, and the folders above it that the
    // constructor made, where they are empty: for a job that failed.
    void removeIfMadeAndEmpty();

    // Testing seams. Unnamed files off: files are written under hidden
    // temporary names. Plain file systems: renames that refuse to replace
    // and hard links fail as on FAT and exFAT.
    static void setUnnamedFilesForTesting(bool on);
    static void setPlainFileSystemForTesting(bool on);

private:
    friend class PendingFile;
    Outcome nameUnnamedFile(PendingFile& file);
    void noteMade(const QStringList& path, bool folder);

    int m_rootFd = -1;
    Outcome m_openFailure;
    QStringList m_madeAbove; // folders the constructor made, deepest first
    std::optional<OpenFolders> m_folders;
    UndoLog m_undo;
    std::vector<std::pair<QStringList, EntryMeta>> m_folderMeta;
};
