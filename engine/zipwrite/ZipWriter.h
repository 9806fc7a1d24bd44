#pragma once

#include "engine/zipwrite/ZipEntryList.h"
#include "platform/Outcome.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Writes zip archives through libzip. Every operation runs to the end before
// returning and may be called on any thread (one archive per call).
class ZipWriter final {
public:
    // Entries written so far and the total. Called on the calling thread;
    // the last call, with both equal, comes only once the archive is
    // complete at its destination.
    using ProgressHandler = std::function<void(std::uint64_t entriesWritten, std::uint64_t total)>;

    struct Options final {
        int compressionLevel = 1; // deflate level, 1 (fastest) to 9 (smallest)
        std::optional<QString> password; // no value: nothing is encrypted
        bool aes = true; // AES-256 for every file entry; the only encryption offered
    };

    // Packs the contents of `directory` into a new archive at `path` (see
    // ZipEntryList::listEntries for what goes in). Done only when a complete archive
    // stands at `path`; on failure nothing is left there and an existing
    // file at `path` is untouched. An empty `directory` is NothingToPack,
    // one holding something that cannot be read Failed, a full disk
    // NoSpace, a stop asked for by JobStop Cancelled.
    static Outcome createZipFileAtPath(const QString& path, const QString& directory, bool keepParentDirectory,
        int compressionLevel, const std::optional<QString>& password, bool aes, const ProgressHandler& progressHandler);

    // Writes the archive of an already made list, as above; a failure's
    // message names the first entry that failed, if any.
    static Outcome write(const std::string& path, const std::vector<ZipEntry>& entries, const Options& options,
        const ProgressHandler& progressHandler);
};
