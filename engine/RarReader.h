#pragma once

#include "engine/ExtractResult.h"

#include <QString>

#include <optional>
#include <vector>

// Reads RAR4 and RAR5 archives (data- or header-encrypted) over libunrar for
// the extraction engine. The archive is listed when the reader is made; one
// instance per archive and thread; every operation blocks. libunrar only
// decodes here: every entry reaches the disk through SafeDestination.
class RarReader final {
public:
    RarReader(const QString& path, const std::optional<QString>& password);

    // False when the archive could not be opened or listed; see errorString().
    bool isOpen() const { return m_open; }
    QString errorString() const { return m_error; }

    // True when the names are encrypted or any entry's data is.
    bool isPasswordProtected() const { return m_headersEncrypted || m_dataEncrypted; }
    // True when the password given at creation decrypted the names (if they
    // are encrypted) and, with `thorough`, also decodes one encrypted entry
    // to its end with a matching checksum: a RAR4 password shows itself
    // wrong only there. The entry is the smallest one, or the first in a
    // solid archive, where every entry depends on those before it.
    bool validatePassword(bool thorough) const;

    // Extracts every entry into `folder`. Refuses the whole archive, writing
    // nothing, when a name is absolute or has "..". `progress` gets the
    // fraction of the data decoded; the final 1.0 only on success.
    ExtractResult extractTo(const QString& folder, const ExtractProgress& progress) const;

private:
    struct Entry {
        QString name;
        quint64 size = 0;
        bool encrypted = false;
        bool link = false; // any kind: decoding it proves nothing about the password
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
