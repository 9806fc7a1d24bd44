#pragma once

#include "engine/StopToken.h"
#include "engine/zipwrite/CompressionOptions.h"
#include "engine/zipwrite/ZipEntryList.h"
#include "engine/zipwrite/ZipWriter.h"
#include "platform/Outcome.h"

#include <string>
#include <vector>

// The writer of every format behind one call: zip (ZipWriter), 7z
// (SevenZipWriter) and tar.zst, tar.gz, tar.xz (TarWriter), each told the
// level its format gives the mode. Runs to the end before returning, on
// any thread.
class ArchiveWriter final {
public:
    struct Request final {
        std::string path; // the archive to make
        CompressionOptions options;
        // zip only: a file already at `path` is replaced by the complete
        // archive (the window's zip entry, after the save panel asked);
        // otherwise it is kept and the job fails as NameTaken.
        bool replaceExisting = false;
        StopToken stop;
    };

    // Whether `options` can be written at all: Unsupported, saying why, for
    // a password with a tar format (tar has no encryption), or one holding
    // a NUL character (see ZipWriter::passwordWithNul) or, for 7z, a line
    // break. Callers check before any work.
    static Outcome check(const CompressionOptions& options);

    // Writes the archive of `items` (as staged) listed as `entries`,
    // refusing what check() refuses before anything is written.
    static Outcome write(const Request& request, const std::vector<ZipItem>& items,
        const std::vector<ZipEntry>& entries, const ZipWriter::ProgressHandler& progressHandler);

    // The compressor's level for `mode` in `format`: zip (deflate) 0/1/6/9,
    // 7z 0/1/5/9, zstd 1/1/3/19 (it has no "store"), gzip 0/1/6/9, xz 0/0/6/9.
    static int level(CompressionOptions::Format format, CompressionOptions::Mode mode);
};
