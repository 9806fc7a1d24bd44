#pragma once

#include "engine/StopToken.h"
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
    // Work done so far and the total: the content bytes of the entries
    // written, and a fixed share for each entry (so that many small files
    // move it as well as one large one). Called on the calling thread,
    // never backwards; the last call, with both equal, comes only once the
    // archive is complete at its destination. The same for every format.
    using ProgressHandler = std::function<void(std::uint64_t done, std::uint64_t total)>;

    struct Options final {
        int compressionLevel = 1; // deflate level, 1 (fastest) to 9 (smallest); 0 stores
        // What to do with a file already at the destination: replace it with
        // the complete archive, or keep it and fail as NameTaken.
        bool replaceExisting = true;
        // No value: nothing is encrypted. Otherwise every file and link entry
        // is encrypted with AES-256 (AE-2), the only encryption offered.
        std::optional<QString> password;
        StopToken stop; // the job's: a request ends the writing as Cancelled
    };

    // Writes a new archive of `entries` (ZipEntryList::listItems) at
    // `path`. Done only when a complete archive stands at `path`; on
    // failure nothing is left there and an existing file at `path` is
    // untouched. An empty list is NothingToPack, a full disk NoSpace, a
    // stop Cancelled; otherwise a failure's message names the first entry
    // that failed, if any.
    static Outcome write(const std::string& path, const std::vector<ZipEntry>& entries, const Options& options,
        const ProgressHandler& progressHandler);

    // A password holding a NUL character is refused (Unsupported) before
    // anything is written: tools that read passwords as C strings would
    // take a shorter one, and the archive would open with "abc" for
    // "abc\0zzz". This is that refusal.
    static Outcome passwordWithNul();
};
