#pragma once

#include "engine/extract/ArchiveReader.h"

#include <QString>
#include <optional>
#include <vector>

// Reads RAR4 and RAR5 archives (data- or header-encrypted, volume sets)
// over libunrar. libunrar only decodes here: every entry reaches the disk
// through the job's EntrySink. The entries of a non-solid archive are
// extracted on every core.
class RarReader final : public ArchiveReader {
public:
    explicit RarReader(const QString& path);

    // Lists the archive, with `password` where the names are encrypted. A
    // set is read from its first volume whichever one `path` names.
    Outcome open(const std::optional<QString>& password) override;
    bool needsPassword() const override { return m_headersEncrypted || m_dataEncrypted; }
    // False when the names are encrypted and the password given to open()
    // did not decrypt them. Encrypted data is checked by extract(): a RAR4
    // password shows itself wrong only there.
    bool checkPassword(const QString& password) override;
    Outcome list(const std::function<bool(const ArchiveEntry&)>& onEntry) override;
    // Refuses the whole archive, writing nothing, when a name is absolute
    // or has "..". A selected hard link or copy brings the entry it refers
    // to along.
    Outcome extract(EntrySink& sink, const ExtractRequest& request) override;

private:
    struct Entry {
        QString name;
        QString refersTo; // a hard link's or copy's entry
        quint64 size = 0;
        quint64 packedSize = 0;
        std::optional<timespec> mtime;
        bool encrypted = false;
        bool folder = false;
        bool link = false;
        bool refersBack = false; // a hard link or copy of an earlier entry
    };
    std::optional<std::vector<bool>> withReferredEntries(const std::vector<bool>& selection) const;

    QString m_path;
    std::optional<QString> m_password;
    bool m_open = false;
    bool m_headersEncrypted = false;
    bool m_dataEncrypted = false;
    bool m_solid = false;
    Outcome m_opened;
    std::vector<Entry> m_entries;
};
