#pragma once

#include "platform/Outcome.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

// One entry of an archive about to be written. The whole list is made
// before any data is read, so a writer can plan from it alone (and, later,
// compress several entries at once).
struct ZipEntry final {
    enum class Kind {
        File,
        Directory,
        Symlink,
    };

    Kind kind = Kind::File;
    std::string name; // archive name, '/'-separated; folders end with '/'
    std::string sourcePath; // File: the file to read
    std::string linkTarget; // Symlink: the link's text, stored as the entry's data
    mode_t mode = 0; // file type and permission bits
    uid_t uid = 0;
    gid_t gid = 0;
    std::time_t mtime = 0;
    long mtimeNanoseconds = 0;
    std::uint64_t size = 0;
    // File: which file was listed. With the size and modification time they
    // tell a file that changed, or was replaced, since.
    dev_t device = 0;
    ino_t inode = 0;
    bool followLink = false; // File: `sourcePath` is a staged link standing for the file
};

// A chosen item: the name it gets at the archive's top level, and where it is.
struct ZipItem final {
    std::string name;
    std::string path;
};

namespace ZipEntryList {

// Lists the archive made of `items` into `entries`, in their order, each
// at the top level under its name and taken as what it is or, for a link,
// what it points to. Inside the items, folders (empty ones too) are entries
// and links are links, never followed. Pipes, sockets and devices inside
// folders are left out with a log line. Anything else that cannot be read
// (a file, a folder's listing, an item itself, an item that is no file or
// folder) fails the listing, naming it, and leaves `entries` empty: an
// archive without it would lose what the user chose (NoPermission when the
// system refused, else Failed). The file `excluded` names (the archive
// being written, when it lies among the items) is left out. Any thread;
// reads the file system only.
Outcome listItems(const std::vector<ZipItem>& items, const std::string& excluded, std::vector<ZipEntry>* entries);

} // namespace ZipEntryList
