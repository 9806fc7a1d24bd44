#pragma once

#include "platform/Outcome.h"

#include <string>

// How a new archive reaches its name, for every format: it is written to a
// hidden temporary beside the destination (the same folder, so that a
// rename moves it), synced, and then renamed into place; the folder is
// synced after. Any thread.
namespace ArchivePlacement {

// The folder of `path` ("." when it names none).
std::string folderOf(const std::string& path);

// Makes a hidden file (O_EXCL, mode 0666 less the umask) beside
// `destination` and opens it for writing: Done with `fd` and `temporary`
// set, else Failed (NoSpace, NoPermission) naming the folder.
Outcome createFile(const std::string& destination, int* fd, std::string* temporary);
// Makes a hidden folder (mode 0700) beside `destination`, for a program
// that writes the archive itself: ".zavrin.<8 hex digits>.part", a name
// free of anything a program might read as a pattern.
Outcome createFolder(const std::string& destination, std::string* temporary);

// fsync, where the file system offers it at all.
bool sync(int fd);

// Renames the complete archive `temporary` (synced, closed) to
// `destination`. With `replace` false an existing destination is kept and
// the result is NameTaken; with it true it is replaced. The archive is in
// place when this is Done; a folder that cannot be synced afterwards is
// only logged.
Outcome place(const std::string& temporary, const std::string& destination, bool replace);

} // namespace ArchivePlacement
