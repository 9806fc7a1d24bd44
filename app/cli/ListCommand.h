#pragma once

#include "platform/Outcome.h"

#include <QString>
#include <memory>

class ArchiveListing;
struct CommandLine;

namespace Cli {

// `zavrin-cli list`: what the archive holds, in columns or as JSON on
// standard output. The exit status.
int runList(const CommandLine& line);

// The archive's listing, asking for a password (once, through the panels)
// when its names are encrypted. Usage for a file no format reads.
Outcome listArchive(const QString& archive, std::shared_ptr<const ArchiveListing>* listing);

} // namespace Cli
