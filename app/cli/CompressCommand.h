#pragma once

struct CommandLine;

namespace Cli {

// `zavrin-cli compress -o ARCHIVE.zip [--level 1|9] [--password-stdin] ITEM...`:
// packs the items into a new archive, at level 1 unless asked for 9. With
// --password-stdin the first line of standard input is the password (an
// empty line: none); without it no password is asked. An existing ARCHIVE
// is never replaced. Returns the exit status: 0 on success, 1 when the job
// failed, 2 when an item is missing or ARCHIVE exists or cannot be made.
int runCompress(const CommandLine& line);

} // namespace Cli
