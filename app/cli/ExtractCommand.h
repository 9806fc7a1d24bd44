#pragma once

struct CommandLine;

namespace Cli {

// `zavrin-cli extract ARCHIVE [-o DIR] [--password-stdin]`: extracts into DIR
// (default: the current folder; created when missing). Returns the exit
// status: 0 on success, 1 when the job was refused, failed or cancelled, 2
// when the archive is missing or DIR cannot be written.
int runExtract(const CommandLine& line);

} // namespace Cli
