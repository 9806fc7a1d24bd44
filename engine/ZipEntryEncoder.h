#pragma once

#include "engine/ZipAesEncryptor.h"
#include "engine/ZipEntryList.h"

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

// Turns the content of one file or link entry into the bytes the archive
// stores: raw deflate at the chosen level, then WinZip AES-256 when there is
// a password. It also computes the content's CRC-32 and size. It works
// piece by piece, so an entry of any size needs only its buffers, and it
// keeps its deflate state from one entry to the next. An empty entry
// without a password is stored as it is. One thread at a time.
class ZipEntryEncoder final {
public:
    // Whether `entry` is stored deflated: all but an empty file without a password.
    static bool deflates(const ZipEntry& entry, const std::string* password)
    {
        return password || entry.kind == ZipEntry::Kind::Symlink || entry.size > 0;
    }

    ZipEntryEncoder() = default;
    ~ZipEntryEncoder();
    ZipEntryEncoder(const ZipEntryEncoder&) = delete;
    ZipEntryEncoder& operator=(const ZipEntryEncoder&) = delete;

    // Begins `entry` (File or Symlink). `password` null: no encryption.
    // False, with error(), when the file cannot be opened.
    bool start(const ZipEntry& entry, int level, const std::string* password);
    // Appends the next stored bytes to `out` and sets `finished` with the
    // last of them. False, with error(), when reading or encoding fails.
    bool next(std::string* out, bool* finished);
    // Encodes the whole entry into `out`.
    bool encodeAll(std::string* out);

    bool deflated() const { return m_deflate; }
    std::uint32_t crc() const { return m_crc; }
    std::uint64_t size() const { return m_size; }
    const std::string& error() const { return m_error; }

private:
    bool fail(const std::string& what, int error);
    bool read(const char** data, std::size_t* length);
    bool compress(const char* data, std::size_t length, bool last, std::string* out);
    void closeFile();

    z_stream m_zip {};
    bool m_zipReady = false;
    int m_level = -1;
    bool m_deflate = true;
    int m_fd = -1;
    const ZipEntry* m_entry = nullptr;
    std::string m_linkData;
    bool m_linkRead = false;
    bool m_inputDone = false;
    bool m_finished = false;
    const std::string* m_password = nullptr;
    bool m_headerWritten = false;
    ZipAesEncryptor m_aes;
    std::vector<char> m_input;
    std::uint32_t m_crc = 0;
    std::uint64_t m_size = 0;
    std::string m_error;
};
