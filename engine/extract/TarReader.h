#pragma once

#include "engine/extract/ArchiveReader.h"
#include "engine/extract/TarFormat.h"

#include <QString>
#include <memory>
#include <optional>

class DecompressAhead;
class TarStream;

// Reads the tar family over libarchive: plain, gzip, bzip2, xz, zstd and lz4
// tars, and single gzip, bzip2, xz and zstd files (one file out, named after
// the archive without its suffix). The compression is the one the name
// says. A tar has no directory: entries are checked and placed as they
// stream by, in one pass, decompressed ahead on a second thread. tar has no
// password. One instance per archive and job, on the job's thread.
class TarReader final : public ArchiveReader {
public:
    explicit TarReader(const QString& path);
    ~TarReader() override;

    // Reads as far as the first header: NotAnArchive when the file is not
    // compressed as its name says, or holds no tar.
    Outcome open(const std::optional<QString>& password) override;
    bool needsPassword() const override { return false; }
    bool checkPassword(const QString&) override { return true; }
    // A pass over the headers (over all the data, for a compressed tar); a
    // single compressed file lists its one file without reading it.
    Outcome list(const std::function<bool(const ArchiveEntry&)>& onEntry) override;
    // Places every entry as it comes, without a listing pass first. An
    // unsafe name (absolute, "..") refuses the whole archive wherever it
    // comes: the sink is opened undoable and everything the job made is
    // removed. Hard links are made only to files this job placed; links
    // that would leave, devices and FIFOs are skipped with a log line.
    // A broken or truncated archive ends Damaged, without the entry that
    // broke off.
    Outcome extract(EntrySink& sink, const ExtractRequest& request) override;

private:
    // The stream open() left at its first header, or a new one.
    Outcome takeStream(std::unique_ptr<TarStream>* stream);
    Outcome extractSingle(EntrySink& sink, const ExtractRequest& request);

    QString m_path;
    std::optional<TarFormat> m_format;
    std::unique_ptr<TarStream> m_stream;
    std::unique_ptr<DecompressAhead> m_single;
};
