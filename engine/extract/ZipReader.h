#pragma once

#include "engine/extract/ArchiveReader.h"

#include <QString>
#include <memory>

class EntryOrder;
class ZipDirectory;
#include <vector>

// Reads zip archives (ZIP64 included) over libzip. The central directory is
// read a slice at a time (ZipDirectory), so memory does not grow with the
// number of entries; entries are extracted on every core.
class ZipReader final : public ArchiveReader {
public:
    // The most entries libzip holds at once, unless told otherwise.
    static constexpr qint64 kSliceEntries = 65536;

    explicit ZipReader(const QString& path, qint64 sliceEntries = kSliceEntries);
    ~ZipReader() override;
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Reads the whole directory once: libzip's checks of every record, the
    // names' code page, the names' safety, encryption. The password is not
    // needed: zip names are never encrypted.
    Outcome open(const std::optional<QString>& password) override;
    // True when any entry is encrypted.
    bool needsPassword() const override;
    // libzip's own check: the password passes the header check of the
    // smallest encrypted entry. Cheap, but lets about 1 in 256 wrong
    // ZipCrypto passwords (1 in 65536 for AES) through; extract() confirms.
    bool checkPassword(const QString& password) override;
    Outcome list(const std::function<bool(const ArchiveEntry&)>& onEntry) override;
    // Refuses the whole archive, writing nothing, when a name is absolute
    // or has "..". The first encrypted entry that decodes right confirms
    // the password (see EntrySink's password policy).
    Outcome extract(EntrySink& sink, const ExtractRequest& request) override;

private:
    struct Survey;
    Outcome survey();
    Outcome checkLegacyNames(EntryOrder& order);
    void expectWork(EntrySink& sink, const std::vector<bool>* selection);

    QString m_path;
    qint64 m_sliceEntries;
    // Not const: the open slice changes as the directory is walked.
    std::unique_ptr<ZipDirectory> m_directory;
    std::unique_ptr<Survey> m_survey;
    Outcome m_opened { .status = Outcome::Status::Failed, .message = QStringLiteral("not opened") };
};
