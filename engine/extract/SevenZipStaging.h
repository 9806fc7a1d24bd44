#pragma once

#include "engine/extract/SevenZipReader.h"

#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

class EntrySink;

// The private folder inside the destination that `7zz` extracts into, and
// the checks an entry passes before it leaves it. The program's messages
// are never read: an entry is good when what the program left has the
// listed type, size and CRC. Made, used and removed on one thread.
class SevenZipStaging final {
public:
    enum class State {
        Verified, // matches the listing
        Blocked, // kept out by the no-escape rules or a duplicate name: not a failure
        Failed, // missing or different from the listing
        Unselected, // not asked for, or a deletion marker: left alone
    };

    // Makes the folder (mode 0700) inside the existing folder `folder`;
    // when it cannot, isOpen() is false and failure() tells why.
    explicit SevenZipStaging(const QString& folder);
    // Removes the folder with whatever is still in it.
    ~SevenZipStaging();
    SevenZipStaging(const SevenZipStaging&) = delete;
    SevenZipStaging& operator=(const SevenZipStaging&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    const Outcome& failure() const { return m_failure; }
    // True when the staging folder is in the sink's destination.
    bool isIn(const EntrySink& sink) const;

    // Works out from the listing alone where each entry lies in the folder
    // and which folders could move in whole (`paths` are the entries' split
    // names). Once, before verify(); on a large archive it takes a while,
    // so it is meant to run while the program extracts.
    void plan(const QList<SevenZipReader::Entry>& entries, const QList<QStringList>& paths);
    // Checks every entry against what the program left; link entries
    // against `targets` (by entry index). Gives verified files their stored
    // permission bits. With `programChecked` (the program ended without an
    // error, having checked every CRC itself) files are checked by type
    // alone, from one read of the folder tree, unread and unstatted.
    // Entries outside `selection` (when given) are Unselected.
    // An entry whose name holds a newline (listed as "_") gets its real
    // name in `paths`.
    QList<State> verify(const QList<SevenZipReader::Entry>& entries, QList<QStringList>& paths,
        const QHash<qsizetype, QByteArray>& targets, bool programChecked, const std::vector<bool>* selection);
    // Moves the verified entries into place through `sink`, which keeps
    // any failure: whole folders first where that is the same as moving
    // their entries, then the rest in listing order.
    void moveIn(EntrySink& sink, const QList<SevenZipReader::Entry>& entries, const QList<QStringList>& paths,
        const QList<State>& states, const QHash<qsizetype, QByteArray>& targets);

private:
    // Paths inside the folder are the names' bytes as the program wrote
    // them, split at "/"; the destination gets SafeDestination's names.
    // A folder of the staged tree: a listed one, or one on a listed name's way.
    struct Folder {
        QByteArray key; // its staged name
        int parent = -1; // in m_tree; -1 at the top
        int depth = 1;
        qsizetype entry = -1; // its first folder entry; -1 when it has none
        bool spoiled = false; // it cannot move whole: see moveFoldersWhole()
        qint64 listed = 0; // entries below it
        qint64 staged = -1; // files and folders below it on disk; -1: anything else too
        std::vector<qsizetype> folders; // folder entries in it, itself included
    };

    // The folder named by the first `end` bytes of `key`, added to the tree
    // with the folders on its way when new.
    int folderId(const QByteArray& key, qsizetype end);
    // Marks `folder` and every folder above it as unable to move whole.
    void spoil(int folder);
    // Reads the staged tree below the open folder `fd` (the staged name
    // `key`): what lies at each listed name, and for each folder how many
    // items lie below it. That count, or -1 when anything but files and
    // folders is there or a folder cannot be read.
    qint64 scan(int fd, const QByteArray& key);
    // What lies at the staged name `key` (DT_*), looked up on its own.
    unsigned char stagedType(const QByteArray& key);
    // The staged folder `path` (relative to the staging folder), entered
    // without following links; -1 when it is missing or not a folder.
    int folderFd(const QByteArrayList& path);
    // True when a file stands where `path` needs a folder, or the wrong
    // kind of item stands at `path` itself: the program could not write
    // the entry there.
    bool wrongKindInTheWay(const QByteArrayList& path, bool folder);
    // Size and CRC of the staged regular file at `path`, with its mode set
    // to `mode` (when given); nothing when it is missing or not a file.
    std::optional<std::pair<qint64, quint32>> fileChecksum(const QByteArrayList& path, std::optional<mode_t> mode);
    // Gives the staged file of `entry` its stored permission bits where the
    // program's umask took some off, or it had special bits to drop.
    bool fixMode(const QByteArray& key, const SevenZipReader::Entry& entry);
    // Moves in with one rename each the folders whose staged tree holds
    // exactly their listed entries, every one a verified file or folder with
    // its name unchanged, and whose place in the destination is free. True
    // for each entry so placed.
    std::vector<bool> moveFoldersWhole(EntrySink& sink, const QList<SevenZipReader::Entry>& entries,
        const QList<QStringList>& paths, const QList<State>& states);
    void closeFolders();

    int m_rootFd = -1;
    QByteArray m_name;
    Outcome m_failure;
    int m_fd = -1;
    QHash<QByteArray, int> m_folders; // staged folder (raw name) -> descriptor

    // By entry: the staged name (its components joined by "/"), the folder
    // holding it and, for a folder entry, its own (-1: none), and the first
    // entry of the same staged name.
    std::vector<QByteArray> m_keys;
    std::vector<int> m_parent;
    std::vector<int> m_self;
    std::vector<qsizetype> m_first;
    QHash<QByteArray, qsizetype> m_firstByKey;
    // By first entry of a name: what the program left there (DT_*; 0: nothing).
    std::vector<unsigned char> m_found;
    bool m_unread = false; // a staged folder could not be read: m_found may miss names
    std::vector<Folder> m_tree;
    std::vector<std::pair<qsizetype, QByteArray>> m_renamed; // entry, real staged name
    QHash<QByteArray, int> m_folderIds;
};
