#pragma once

#include "engine/StopToken.h"
#include "engine/zipwrite/ZipEntryList.h"
#include "engine/zipwrite/ZipWriter.h"
#include "platform/Outcome.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

// Writes 7z archives with the 7-Zip program (7zz, run as a child process):
// links inside the items stored as links, modes and times kept, AES-256
// with the names encrypted too when there is a password, which goes to the
// program on its standard input, never on its command line. Every
// operation runs to the end before returning, on any thread.
class SevenZipWriter final {
public:
    struct Options final {
        int level = 5; // 7-Zip's -mx: 0 (store), 1 (fastest) to 9 (smallest)
        std::optional<QString> password; // no value: nothing is encrypted; one line, no NUL (ArchiveWriter::check)
        StopToken stop; // the job's: a request ends the program and the writing as Cancelled
    };

    // Writes a new archive of `items` (what the job staged: the name each
    // gets at the top level, and where it is) at `path`. `entries` is their
    // listing (ZipEntryList::listItems), which sizes the progress. The
    // program writes into a hidden folder beside `path`, and the archive is
    // renamed into place when complete; a file already at `path` is kept
    // (NameTaken), and nothing is left on failure. The program names items
    // after the files themselves: a chosen link is packed as what it points
    // to and then renamed to the link's name, which fails as Unsupported
    // only where two items would meet under one name on the way. Failed,
    // with what the program said, when it fails.
    static Outcome write(const std::string& path, const std::vector<ZipItem>& items,
        const std::vector<ZipEntry>& entries, const Options& options,
        const ZipWriter::ProgressHandler& progressHandler);
};
