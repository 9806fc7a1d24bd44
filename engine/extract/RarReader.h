#pragma once

#include "engine/safety/EntrySink.h"

#include <QString>
#include <optional>
#include <vector>

// Reads RAR4 and RAR5 archives (data- or header-encrypted) over libunrar for
// the extraction engine. The archive is listed when the reader is made; one
// instance per archive and thread; every operation blocks. libunrar only
// decodes here: every entry reaches the disk through SafeDestination. The
// entries of a non-solid archive are extracted on every core.
class RarReader final {
public:
    RarReader(const QString& path, const std::optional<QString>& password);

    // False when the archive could not be opened or listed; see errorString().
    bool isOpen() const { return m_open; }
    QString errorString() const { return m_error; }

    // True when the names are encrypted or any entry's data is.
    bool isPasswordProtected() const { return m_headersEncrypted || m_dataEncrypted; }
    // False when the names are encrypted and the password given at
    // creation did not decrypt them. Encrypted data is checked by
    // extractTo(): a RAR4 password shows itself wrong only there.
    bool validatePassword() const { return !isPasswordProtected() || m_open; }

    // Extracts every entry into `folder` through an EntrySink. Refuses the
    // whole archive, writing nothing, when a name is absolute or has "..".
    // `progress` gets the fraction of the data decoded; the final 1.0 only
    // on success. The first encrypted file that decodes right confirms the
    // password; when none does, the result is WrongPassword (refused) or
    // WrongPasswordOrDamage (checksums failed) and nothing of the job is
    // left. Stops within an entry when JobStop asks (Cancelled).
    Outcome extractTo(const QString& folder, const ExtractProgress& progress) const;

private:
    struct Entry {
        QString name;
        quint64 size = 0;
        bool encrypted = false;
        bool folder = false;
        bool refersBack = false; // a hard link or copy of an earlier entry
    };
    void list();

    QString m_path;
    std::optional<QString> m_password;
    bool m_open = false;
    bool m_headersEncrypted = false;
    bool m_dataEncrypted = false;
    bool m_solid = false;
    int m_listResult = 0;
    QString m_error;
    std::vector<Entry> m_entries;
};
