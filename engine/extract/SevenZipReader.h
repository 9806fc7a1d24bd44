#pragma once

#include "engine/safety/EntrySink.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <ctime>
#include <functional>
#include <optional>
#include <sys/types.h>

// Reads 7z archives by running the 7-Zip program `7zz` as a child process.
// The password goes to its standard input, never on its command line; with
// no password, standard input is closed, so a prompt of the program ends at
// once. The archive is opened once and handed to every run of the program
// as an open file, so no name reaches the program's wildcard rules and
// listing and extraction read the same file. Only the 7z format is read,
// whatever the file is called. One instance per archive and thread; every
// operation blocks.
class SevenZipReader final {
public:
    struct Entry {
        QString path;
        QByteArray rawPath; // as listed: the bytes the program writes, not always UTF-8
        qint64 size = 0;
        bool folder = false;
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
    ~SevenZipReader();
    SevenZipReader(const SevenZipReader&) = delete;
    SevenZipReader& operator=(const SevenZipReader&) = delete;

    // Lists the archive. False when it cannot be listed; needsPassword()
    // then tells whether a password (or another one) is what is missing.
    bool open(const std::optional<QString>& password);
    const QList<Entry>& entries() const { return m_entries; }
    // True when the names are encrypted (the archive cannot be opened
    // without a password) or any entry is.
    bool needsPassword() const { return m_headersEncrypted || m_anyEncrypted; }
    // True once the archive was listed.
    bool isListed() const { return m_listed; }
    // The last error the program reported, empty when none.
    QString lastError() const { return m_lastError; }

    // Extracts the listed entries into a private staging folder inside
    // `folder`, checks each against the listing (size and CRC of files and
    // link targets) and moves only entries that match into place through
    // SafeDestination, so that existing files are kept and nothing escapes.
    // Unless open() came first, lists the archive meanwhile, and calls
    // `listed` (this thread) once the listing is in, listed or not: when it
    // answers false (say, a password is needed), the job ends Cancelled
    // and leaves nothing. Refuses the whole archive, writing nothing, when
    // it cannot be listed or a name is absolute or has "..". With a wrong
    // password nothing at all is moved. Fails when any entry did not come
    // out right or the program failed in a way that the entries do not
    // explain. `progress` gets the program's percentage, after `listed`,
    // on any one thread. A stop (JobStop) ends the program and moves
    // nothing in.
    Outcome extract(const QString& folder, const std::optional<QString>& password, const ExtractProgress& progress,
        const std::function<bool()>& listed = {});

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
    // Runs the program on the open archive; `workingFolderFd` >= 0 becomes
    // its working folder. Output goes to `onOutput` when given. A set
    // `abandon` ends the program as a stop does.
    Run run(const QStringList& arguments, const std::optional<QString>& password, int workingFolderFd = -1,
        const std::function<void(const QByteArray&)>& onOutput = {}, const std::atomic<bool>* abandon = nullptr) const;
    // The extraction run into the staging folder `stagingFd`; percentages
    // go to `progress` while `reporting` (when given) is set.
    Run runExtraction(int stagingFd, const std::optional<QString>& password, const ExtractProgress& progress,
        const std::atomic<bool>* abandon, const std::atomic<bool>* reporting) const;
    QString archiveArgument() const;
    // The targets of the link entries, by index into entries(); a link
    // whose data could not be read has none.
    QHash<qsizetype, QByteArray> readLinkTargets(const std::optional<QString>& password) const;

    QString m_path;
    int m_fd = -1;
    QList<Entry> m_entries;
    bool m_opened = false; // open() ran
    bool m_listed = false;
    bool m_headersEncrypted = false;
    bool m_anyEncrypted = false;
    QString m_lastError;
};
