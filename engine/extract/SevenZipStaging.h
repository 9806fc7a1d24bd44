#pragma once

#include "engine/extract/SevenZipReader.h"

#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

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
    };

    // Makes the folder (mode 0700) inside the existing folder `folder`;
    // when it cannot, isOpen() is false and error() tells why.
    explicit SevenZipStaging(const QString& folder);
    // Removes the folder with whatever is still in it.
    ~SevenZipStaging();
    SevenZipStaging(const SevenZipStaging&) = delete;
    SevenZipStaging& operator=(const SevenZipStaging&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    QString error() const { return m_error; }
    // True when the open folder `rootFd` is the one the staging folder is in.
    bool isIn(int rootFd) const;

    // Checks every entry (`paths` are their split names) against what the
    // program left; link entries against `targets` (by entry index). Gives
    // verified files their stored permission bits. With `programChecked`
    // (the program ended without an error, having checked every CRC
    // itself) files are checked by type and size alone, unread.
    QList<State> verify(const QList<SevenZipReader::Entry>& entries, const QList<QStringList>& paths,
        const QHash<qsizetype, QByteArray>& targets, bool programChecked);
    // Moves the verified entries into place through the sink, which keeps
    // any failure: whole folders first where that is the same as moving
    // their entries, then the rest in listing order.
    void moveIn(EntrySink& sink, const QList<SevenZipReader::Entry>& entries, const QList<QStringList>& paths,
        const QList<State>& states, const QHash<qsizetype, QByteArray>& targets);

private:
    // Paths inside the folder are the names' bytes as the program wrote
    // them, split at "/"; the destination gets SafeDestination's names.
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
    // As fileChecksum, without reading the file: its size and `crc`.
    std::optional<std::pair<qint64, quint32>> fileSize(
        const QByteArrayList& path, std::optional<mode_t> mode, std::optional<quint32> crc);
    // Moves in with one rename each the folders whose staged tree holds
    // exactly their listed entries, every one a verified file or folder with
    // its name unchanged, and whose place in the destination is free. True
    // for each entry so placed.
    QList<bool> moveFoldersWhole(EntrySink& sink, const QList<SevenZipReader::Entry>& entries,
        const QList<QStringList>& paths, const QList<State>& states);
    // The number of files and folders below the staged folder `fd`; -1 when
    // anything else is there or a folder cannot be read.
    qint64 countTree(int fd);
    void closeFolders();

    int m_rootFd = -1;
    QByteArray m_name;
    QString m_error;
    int m_fd = -1;
    QHash<QByteArray, int> m_folders; // staged folder (raw name) -> descriptor
};
