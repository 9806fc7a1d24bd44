#pragma once

#include "engine/StopToken.h"
#include "engine/extract/ArchiveReader.h"
#include "engine/extract/VolumeSet.h"
#include "engine/safety/EntrySink.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

// Reads 7z archives, and split 7z and zip sets, by running the `7zz`
// program as a child process. The password goes to its standard input,
// never on its command line; with no password, standard input is closed,
// so a prompt of the program ends at once. A single archive is opened once
// and handed to every run of the program as an open file, so no name
// reaches the program's wildcard rules and listing and extraction read the
// same file; the parts of a set are linked under names of our own. Only
// the 7z format is read (the zip format for a zip set), whatever the file
// is called. One instance per archive and thread; every operation blocks.
class SevenZipReader final : public ArchiveReader {
public:
    struct Entry {
        QString path;
        QByteArray rawPath; // as listed: the bytes the program writes, not always UTF-8
        qint64 size = 0;
        qint64 packedSize = -1; // -1: not listed (entries after the first of a solid block)
        bool folder = false;
        bool anti = false; // a deletion marker left by an update: never extracted
        bool link = false; // a symbolic link: its data is the target
        bool special = false; // a device, FIFO or socket: never extracted
        bool encrypted = false;
        std::optional<quint32> crc;
        std::optional<mode_t> mode; // permission bits as stored, special ones too (never restored)
        std::optional<timespec> mtime;
        // The entry as a log line.
        QString description() const;
    };

    explicit SevenZipReader(const QString& path);
    ~SevenZipReader() override;
    SevenZipReader(const SevenZipReader&) = delete;
    SevenZipReader& operator=(const SevenZipReader&) = delete;

    // Checks that the file starts as a 7z archive and keeps `password`; the
    // listing comes with extract() or list().
    Outcome open(const std::optional<QString>& password) override;
    // True when the names are encrypted (the archive cannot be listed
    // without a password) or any entry is; known once listed.
    bool needsPassword() const override { return m_headersEncrypted || m_anyEncrypted; }
    // 7z has no quick check: extract() decides.
    bool checkPassword(const QString&) override { return true; }
    // Lists the archive first when it was not yet; WrongPassword when its
    // names are encrypted and the password does not decrypt them.
    Outcome list(const std::function<bool(const ArchiveEntry&)>& onEntry) override;
    // Extracts the entries into a private staging folder inside the
    // destination, checks each against the listing (size and CRC of files
    // and link targets) and moves only entries that match into place
    // through the sink, so that existing files are kept and nothing
    // escapes. Unless listed already, the archive is listed meanwhile; the
    // program is held back past a small budget of written bytes until the
    // listing has checked every name. Refuses the whole archive, writing
    // nothing, when it cannot be listed or a name is absolute or has "..".
    // The password is confirmed only by an encrypted entry whose CRC
    // matched; when none can confirm it, nothing is moved. Fails when any
    // entry did not come out right or the program failed in a way that the
    // entries do not explain. A stop ends the program and moves nothing in.
    Outcome extract(EntrySink& sink, const ExtractRequest& request) override;

    const QList<Entry>& entries() const { return m_entries; }

    // Parses the program's technical listing ("l -slt"), times in UTC.
    static QList<Entry> parseListing(const QByteArray& listing);
    // The program to run: ZAVRIN_7ZZ from the environment, else "7zz" from PATH.
    static QString program();

private:
    struct Run {
        bool started = false;
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    // How a run of the program is watched: a set `abandon` ends it as a
    // stop does; past `budget` bytes written while `hold` is set, it is
    // paused until `hold` clears.
    struct Watch {
        const StopToken* stop = nullptr;
        const std::atomic<bool>* abandon = nullptr;
        const std::atomic<bool>* hold = nullptr;
        qint64 budget = 0;
    };
    // Runs the program on the open archive; `workingFolderFd` >= 0 becomes
    // its working folder. Output goes to `onOutput` when given.
    Run run(const QStringList& arguments, const std::optional<QString>& password, int workingFolderFd = -1,
        const std::function<void(const QByteArray&)>& onOutput = {}, const Watch* watch = nullptr) const;
    // The extraction run into the staging folder `stagingFd`, of the names
    // in `listFile` when given; percentages go to `progress` while
    // `reporting` is set.
    Run runExtraction(int stagingFd, const std::optional<QString>& password, ProgressMeter& progress,
        const Watch& watch, const std::atomic<bool>* reporting, const QString& listFile) const;
    // A file naming the selected entries for the program, one a line, in a
    // private folder; empty when a name cannot be given so (the program
    // then extracts everything, and only the selection moves in).
    QString writeListFile(const std::vector<bool>& selection, class QTemporaryDir& folder) const;
    QString archiveArgument() const;
    // "-t7z", or the type of a split set.
    QString typeArgument() const;
    // Links the parts of a split set into a private folder.
    bool gatherParts();
    // Lists the archive into m_entries; the outcome is kept.
    Outcome readListing(const std::optional<QString>& password);
    // The targets of the link entries, by index into entries(); a link
    // whose data could not be read has none.
    QHash<qsizetype, QByteArray> readLinkTargets(const std::optional<QString>& password) const;

    QString m_path;
    std::optional<VolumeSet> m_set; // a split archive's parts
    std::unique_ptr<QTemporaryDir> m_setFolder; // the parts under our names
    QString m_setArgument;
    int m_fd = -1;
    std::optional<QString> m_password;
    QList<Entry> m_entries;
    std::optional<Outcome> m_listing; // once listed
    bool m_headersEncrypted = false;
    bool m_anyEncrypted = false;
    Outcome m_openFailure;
};
