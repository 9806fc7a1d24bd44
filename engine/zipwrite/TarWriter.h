#pragma once

#include "engine/StopToken.h"
#include "engine/zipwrite/ZipEntryList.h"
#include "engine/zipwrite/ZipWriter.h"
#include "platform/Outcome.h"

#include <string>
#include <vector>

// Writes compressed tar archives through libarchive: the pax format, links
// as links, modes, owners and times (to the nanosecond) kept, compressed
// with zstd or xz on the compressor's own threads, or with gzip. Every
// operation runs to the end before returning, on any thread.
class TarWriter final {
public:
    enum class Compressor {
        Zstd,
        Gzip,
        Xz,
    };

    struct Options final {
        Compressor compressor = Compressor::Zstd;
        int level = 3; // the compressor's own scale (zstd 1-19, gzip and xz 0-9)
        StopToken stop; // the job's: a request ends the writing as Cancelled
    };

    // Writes a new archive of `entries` (ZipEntryList::listItems) at `path`
    // through a hidden temporary beside it, renamed into place when
    // complete; a file already at `path` is kept (NameTaken). Done only when
    // a complete archive stands at `path`, and nothing is left otherwise.
    // NothingToPack, NoSpace, Cancelled, Changed as for ZipWriter::write;
    // a failure's message names the entry or file when there is one.
    static Outcome write(const std::string& path, const std::vector<ZipEntry>& entries, const Options& options,
        const ZipWriter::ProgressHandler& progressHandler);
};
