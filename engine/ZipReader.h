#pragma once

#include "engine/ExtractResult.h"

#include <QString>

#include <functional>
#include <optional>

struct zip;

// Reads zip archives (ZIP64 included) over libzip for the extraction engine.
// One instance per archive and thread; every operation blocks.
class ZipReader final {
public:
    explicit ZipReader(const QString& path);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool isOpen() const { return m_zip != nullptr; }
    QString errorString() const { return m_error; }

    // True when any entry is encrypted.
    bool isPasswordProtected() const;
    // libzip's own check: the password passes the header check of the
    // smallest encrypted entry. Cheap, but lets about 1 in 256 wrong
    // ZipCrypto passwords (1 in 65536 for AES) through.
    bool checkPassword(const QString& password) const;
    // Reads the smallest non-empty encrypted entry to its end, so that its
    // checksum (or AES authentication code) confirms the password.
    bool confirmPassword(const QString& password) const;

    // Entry number and total, before each entry and once more at the end.
    using EntryProgress = std::function<void(qint64 index, qint64 total)>;
    // Extracts every entry into `folder` through SafeDestination. Refuses
    // the whole archive, writing nothing, when a name is absolute or has "..".
    ExtractResult extractTo(const QString& folder, const std::optional<QString>& password,
                            const EntryProgress& progress) const;

private:
    // Index of the encrypted entry to test a password on, or -1.
    qint64 passwordProbe() const;
    bool probePassword(const QString& password, bool readAll) const;

    zip* m_zip = nullptr;
    QString m_error;
};
