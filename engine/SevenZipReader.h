#pragma once

#include "engine/ExtractResult.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// Reads 7z archives by running the 7-Zip program `7zz` as a child process.
// The password goes to its standard input, never on its command line; with
// no password, standard input is closed, so a prompt of the program ends at
// once. One instance per archive and thread; every operation blocks.
class SevenZipReader final {
public:
    struct Entry {
        QString path;
        qint64 size = 0;
        bool folder = false;
        bool link = false;
        bool encrypted = false;
        // The entry as a log line.
        QString description() const;
    };

    explicit SevenZipReader(const QString& path);

    // Lists the archive. False when it cannot be listed; needsPassword()
    // then tells whether a password (or another one) is what is missing.
    bool open(const std::optional<QString>& password);
    const QList<Entry>& entries() const { return m_entries; }
    // True when the names are encrypted (the archive cannot be opened
    // without a password) or any entry is.
    bool needsPassword() const { return m_headersEncrypted || m_anyEncrypted; }
    // The last error the program reported, empty when none.
    QString lastError() const { return m_lastError; }

    // Extracts the listed entries (call open() first) into a private staging
    // folder inside `folder`, then moves them into place through
    // SafeDestination, so that existing files are kept and nothing escapes.
    // Refuses the whole archive, writing nothing, when a name is absolute or
    // has "..". After a failure only entries whose size is right and that the
    // program reported no error for are moved. `progress` is called on this
    // thread with the program's percentage.
    ExtractResult extract(const QString& folder, const std::optional<QString>& password,
                          const ExtractProgress& progress);

    // The program to run: ZAVRIN_7ZZ from the environment, else "7zz" from PATH.
    static QString program();

private:
    struct Run {
        bool started = false;
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QStringList& arguments, const std::optional<QString>& password,
            const std::function<void(const QByteArray&)>& onOutput = {}) const;
    void parseListing(const QByteArray& listing);

    QString m_path;
    QList<Entry> m_entries;
    bool m_headersEncrypted = false;
    bool m_anyEncrypted = false;
    QString m_lastError;
};
