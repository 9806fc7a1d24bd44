#pragma once

#include "engine/extract/ArchiveReader.h"
#include "engine/extract/SmallFileWriters.h"

#include <QSet>
#include <QStringList>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

class EntrySink;
class TarStream;
struct EntryMeta;
struct archive_entry;

// Places the entries of one tar through the job's sink as they stream by:
// each name admitted as it comes, small files handed whole to writer
// threads, larger ones written block by block with their holes kept, links
// and hard links by the sink's rules. What it keeps per entry is what hard
// links need: a keyed 64-bit hash of each file placed. Called on one thread.
class TarExtraction final {
public:
    // `selection` as ExtractRequest's: indices in archive order.
    TarExtraction(TarStream& stream, EntrySink& sink, const std::optional<std::vector<bool>>& selection);

    // Walks the stream to its end, a failure that ends it, or a stop.
    // Failures are recorded in the sink; an unsafe name also removes
    // everything the job had made.
    void run();

    // An entry's name as stored, its bytes kept (FileNames).
    static QString entryName(archive_entry* entry);
    // An entry as list() hands it out.
    static ArchiveEntry describe(archive_entry* entry);

private:
    // False when an unsafe name refused the archive.
    bool walk();
    bool openSink();
    // False when the stream broke or the job must end.
    bool place(archive_entry* entry, const QStringList& path);
    bool placeFile(archive_entry* entry, const QStringList& path, const EntryMeta& meta);
    // Reads a small file whole for the writers; false when the stream broke.
    bool queueFile(const QStringList& path, const EntryMeta& meta, qint64 size);
    void placeHardLink(const QStringList& path, const char* target);
    std::size_t key(const QStringList& path) const;
    void notePlaced(const QStringList& path);

    TarStream& m_stream;
    EntrySink& m_sink;
    const std::optional<std::vector<bool>>& m_selection;
    bool m_sinkTried = false;
    bool m_sinkOpen = false;
    const std::size_t m_seed;
    std::mutex m_placedMutex;
    QSet<std::size_t> m_placed; // files this job placed, for hard links
    SmallFileWriters m_writers;
    bool m_writersRunning = false;
};
