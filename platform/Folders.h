#pragma once

#include <QByteArray>
#include <optional>
#include <vector>

// Folder walking on open descriptors, shared by the readers, the safe
// destination and the writer's listing. Any thread; links are never
// followed below the descriptor given.
namespace Folders {

struct Entry final {
    QByteArray name;
    unsigned char type; // DT_REG, DT_DIR, DT_LNK, …; DT_UNKNOWN only when it could not be read
};

// The entries of the open folder `dirFd`, without "." and "..", in the
// order the system lists them. `dirFd` stays open and untouched. No value,
// with errno set, when the folder cannot be read.
std::optional<std::vector<Entry>> list(int dirFd);

// Removes `name` in the folder `parentFd` and, for a folder, everything
// below it, depth first, without following any link. A folder whose mode
// shuts it is opened up first. False, with errno set, when something stays.
bool removeTree(int parentFd, const char* name);

} // namespace Folders
