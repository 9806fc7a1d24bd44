#pragma once

struct CommandLine;

namespace Cli {

// `zavrin-cli compress -o ARCHIVE [--format F] [--level 1|9] [--password-stdin] ITEM...`:
// packs the items into a new archive of format F (zip unless asked
// otherwise), fastest unless asked for 9, the smallest. With
// --password-stdin the first line of standard input is the password, which
// must not be empty; without it no password is asked. An existing ARCHIVE
// is never replaced. Returns the exit status: 0 on success, 1 when the job
// failed, 2 when an item is missing, ARCHIVE exists or cannot be made, or
// the password is missing or unusable (empty, a NUL character, not UTF-8,
// or given for a tar format).
int runCompress(const CommandLine& line);

} // namespace Cli
