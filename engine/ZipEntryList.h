#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
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
    std::string name;       // archive name, '/'-separated; folders end with '/'
    std::string sourcePath; // File: the file to read
    std::string linkTarget; // Symlink: the link's text, stored as the entry's data
    mode_t mode = 0;        // file type and permission bits
    std::time_t mtime = 0;
    std::uint64_t size = 0;
    bool followLink = false; // File: `sourcePath` is a staged link standing for the file
};

// Lists the archive made of the contents of `directory`: each top-level item
// under its own name, a top-level link followed and taken as the item it
// stands for; inside the items, folders (empty ones too) as entries and
// links as links, never followed. Items that cannot be read and special
// files (pipes, sockets, devices) are left out and logged. With
// `keepParentDirectory` everything sits under the folder's own name. The
// file `excluded` names (the archive being written, when it lies among the
// items) is left out too. Any thread; reads the file system only.
std::vector<ZipEntry> listZipEntries(const std::string& directory, bool keepParentDirectory,
                                     const std::string& excluded = {});
