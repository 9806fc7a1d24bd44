#pragma once

#include "engine/StopToken.h"
#include "engine/extract/DecompressAhead.h"
#include "engine/extract/TarFormat.h"
#include "platform/Outcome.h"

#include <QString>
#include <memory>

struct archive;
struct archive_entry;

// One pass over a tar through libarchive, in archive order: the headers one
// by one, each entry's data in blocks. A compressed tar is decompressed
// ahead on a thread of its own (DecompressAhead); a plain one is read
// directly. Nothing is read twice and nothing is kept per entry. One
// thread.
class TarStream final {
public:
    TarStream(const QString& path, const TarFormat& format);
    ~TarStream();
    TarStream(const TarStream&) = delete;
    TarStream& operator=(const TarStream&) = delete;

    // Opens the file and reads the first header, and no further: a cheap
    // check of the format. NotAnArchive when the file is not compressed as
    // its name says or holds no tar; Damaged when it breaks off before the
    // first header is complete; Failed or NoPermission when it cannot be read.
    Outcome open();
    // The next entry, or null after the last, valid until the next call;
    // the current entry's unread data is skipped. Damaged when a header is
    // broken or the archive ends early.
    Outcome next(archive_entry** entry);
    // The next block of the current entry's data and its place in the file
    // (sparse files leave holes between blocks); `*size` 0 after the last.
    // Damaged when the data breaks off.
    Outcome readBlock(const char** data, qint64* size, qint64* offset);

    // The job's stop: reading ends with it, even in the middle of the data
    // libarchive skips. Before the first next().
    void setStopToken(const StopToken& stop) { m_stop = stop; }
    // How far through the file the reading is, from 0 to 1.
    double fractionRead() const;

    // For the reading callback: the stop, and the decompressor.
    bool stopRequested() const { return m_stop.requested(); }
    DecompressAhead& ahead() { return *m_ahead; }

private:
    Outcome failure(Outcome::Status status) const;

    const QString m_path;
    const TarFormat m_format;
    archive* m_archive = nullptr;
    std::unique_ptr<DecompressAhead> m_ahead;
    archive_entry* m_first = nullptr; // read by open(), not handed out yet
    bool m_started = false;
    StopToken m_stop;
    qint64 m_fileSize = 0;
};
