#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <zip.h>

// The file libzip writes a new archive to: a hidden temporary file beside
// the destination, synced to the disk and renamed to the destination only
// when libzip commits a complete archive (see ArchivePlacement), and
// removed when it rolls back. A failed job therefore never leaves part of
// an archive at the destination. A file already there is replaced by a
// complete archive or not at all when `replace` is true, and is always
// kept otherwise (the commit then fails with EEXIST). Writes are buffered.
// One object per archive, used by one thread.
class ZipOutputFile final {
public:
    ZipOutputFile(std::string destination, bool replace);
    ~ZipOutputFile();
    ZipOutputFile(const ZipOutputFile&) = delete;
    ZipOutputFile& operator=(const ZipOutputFile&) = delete;

    // A writable libzip source over this file, for zip_open_from_source with
    // ZIP_CREATE | ZIP_TRUNCATE. This object must outlive the source.
    zip_source_t* createSource(zip_error_t* error);

    // Testing seam: with a limit of zero or more, writing past that many
    // bytes in one archive fails the way a full disk does (ENOSPC).
    // Negative turns it off. Affects every archive written while it is set.
    static void setWriteLimitForTesting(std::int64_t bytes);

private:
    static zip_int64_t callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t fail(int zipError, int systemError);
    bool beginWrite();
    bool write(const void* data, std::size_t length);
    bool flush();
    bool writeOut(const char* data, std::size_t length, std::int64_t offset);
    bool commit();
    void discard();

    std::string m_destination;
    bool m_replace = true;
    std::string m_temporaryPath;
    int m_fd = -1;
    zip_error_t m_error {};
    std::vector<char> m_buffer;
    std::int64_t m_bufferOffset = 0; // file offset of m_buffer's first byte
    std::int64_t m_position = 0; // where the next write goes
    std::int64_t m_size = 0; // bytes in the file, buffered ones included
    std::int64_t m_written = 0; // bytes handed to the kernel
};
