#pragma once

#include "engine/extract/ZipDirectory.h"
#include "engine/safety/EntrySink.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Reads zip archives (ZIP64 included) over libzip for the extraction engine.
// The central directory is read a slice at a time (ZipDirectory), so memory
// does not grow with the number of entries. One instance per archive and
// thread; every operation blocks.
class ZipReader final {
public:
    // Opens the archive and reads its whole directory once: libzip's checks
    // of every record, the names' code page, the names' safety, encryption.
    // `sliceEntries` is the most entries libzip holds at once.
    explicit ZipReader(const QString& path, qint64 sliceEntries = ZipDirectory::kSliceEntries);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool isOpen() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    // True when any entry is encrypted.
    bool isPasswordProtected() const;
    // libzip's own check: the password passes the header check of the
    // smallest encrypted entry. Cheap, but lets about 1 in 256 wrong
    // ZipCrypto passwords (1 in 65536 for AES) through; extractTo()
    // confirms it.
    bool checkPassword(const QString& password) const;

    // Entry number and total, before each entry and once more at the end.
    using EntryProgress = std::function<void(qint64 index, qint64 total)>;
    // Extracts every entry into `folder` through an EntrySink. Refuses the
    // whole archive, writing nothing, when a name is absolute or has "..".
    // The first encrypted entry that decodes right confirms the password;
    // when none does, the result is WrongPassword (an entry refused it) or
    // WrongPasswordOrDamage (ZipCrypto data failed its checksum), and
    // nothing of the job is left. Stops between entries and within long
    // ones when JobStop asks (Cancelled; complete files stay).
    Outcome extractTo(
        const QString& folder, const std::optional<QString>& password, const EntryProgress& progress) const;

private:
    struct Survey;
    void survey();
    bool checkLegacyNames(EntryOrder& order);

    // Not const: the open slice changes as the directory is walked.
    std::unique_ptr<ZipDirectory> m_directory;
    std::unique_ptr<Survey> m_survey;
    QString m_error;
};
