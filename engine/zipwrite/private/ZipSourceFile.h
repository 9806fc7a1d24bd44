#pragma once

#include "engine/zipwrite/ZipEntryList.h"
#include "platform/Outcome.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The content of one file entry, read through the one descriptor opened
// for it, so that every piece of a large file comes from the same file: one
// replaced by rename meanwhile (as editors and downloaders save) is read
// to the end as it was. The file opened must be the one listed, and stay as
// it was listed (its size and modification time) until its last byte is
// read; a file that changes meanwhile fails with Changed, naming it, as its
// entry would hold bytes of two versions or not the bytes listed. Reads may come from several threads at once.
class ZipSourceFile final {
public:
    // Opens the file of `entry` (a File entry). Failed (or NoPermission)
    // when it cannot be opened or is no longer a regular file, Changed when
    // it is not the file listed.
    static Outcome open(const ZipEntry& entry, std::unique_ptr<ZipSourceFile>* file);
    ~ZipSourceFile();
    ZipSourceFile(const ZipSourceFile&) = delete;
    ZipSourceFile& operator=(const ZipSourceFile&) = delete;

    // Reads exactly `length` bytes from `offset` into `into`, then checks
    // that the file is still as listed: Changed when it is shorter or was
    // changed.
    Outcome read(std::uint64_t offset, std::size_t length, char* into) const;

    // Testing seam: called before every read with the file's path and the
    // offset, on the reading thread; the test may change the file there.
    // Empty turns it off.
    using ReadHook = std::function<void(const std::string& path, std::uint64_t offset)>;
    static void setReadHookForTesting(ReadHook hook);

private:
    ZipSourceFile(const ZipEntry& entry, int fd);
    Outcome changed() const;
    bool asListed() const;

    const ZipEntry& m_entry;
    int m_fd = -1;
};
