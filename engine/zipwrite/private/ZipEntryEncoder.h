#pragma once

#include "ZipAesEncryptor.h"
#include "engine/zipwrite/ZipEntryList.h"
#include "platform/Outcome.h"

#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

struct libdeflate_compressor;
class ZipSourceFile;

// One encoded job: a whole entry as the archive stores it (compressed and,
// with a password, encrypted), or one piece of a large entry's deflate data.
struct EncodedPiece final {
    Outcome outcome; // how the encoding went: the rest counts only when Done
    bool deflated = true;
    std::string data;
    std::uint32_t crc = 0; // of the content this piece covers
    std::uint64_t size = 0; // content bytes this piece covers
};

// Turns entry content into the bytes the archive stores, compressed by
// libdeflate, which is several times faster than zlib at the same level and
// compresses as well or better. A large file is compressed in pieces that
// join into one deflate stream, so that all cores can work on it. Keeps its
// compressor between jobs; one thread at a time.
class ZipEntryEncoder final {
public:
    // Whether `entry` is stored deflated: everything encrypted, else at
    // level 0 nothing, else all but an empty file. libzip takes stored
    // bytes for the content itself (their CRC and size), so encrypted bytes
    // are never stored: at level 0 they are deflate's uncompressed blocks.
    static bool deflates(const ZipEntry& entry, const std::string* password, int level)
    {
        return password || (level > 0 && (entry.kind == ZipEntry::Kind::Symlink || entry.size > 0));
    }

    ZipEntryEncoder() = default;
    ~ZipEntryEncoder();
    ZipEntryEncoder(const ZipEntryEncoder&) = delete;
    ZipEntryEncoder& operator=(const ZipEntryEncoder&) = delete;

    // A File or Symlink entry whole into `result`: its content, deflated
    // unless empty, then encrypted with AES-256 (AE-2) when `password` is
    // given. A failure names the file; a file that is not as listed, or
    // changes while it is read, is Changed (see ZipSourceFile).
    Outcome encodeWhole(const ZipEntry& entry, int level, const std::string* password, EncodedPiece* result);
    // `length` bytes of a File entry, read from its `file` (opened once for
    // all its pieces) from `offset` on, as one piece of its deflate data: the
    // pieces in order make one stream, the `last` piece ending it (when it
    // is not to be `deflated`, the bytes as they are). Not encrypted: the
    // caller encrypts the joined whole.
    Outcome encodePiece(const ZipSourceFile& file, int level, bool deflated, std::uint64_t offset, std::uint64_t length,
        bool last, EncodedPiece* result);

private:
    Outcome compress(
        const char* content, std::size_t length, int level, const char** compressed, std::size_t* compressedLength);
    Outcome continueStream(std::size_t* length);

    libdeflate_compressor* m_compressor = nullptr;
    int m_compressorLevel = -1;
    z_stream m_inflate {};
    bool m_inflateReady = false;
    ZipAesEncryptor m_aes;
    std::vector<char> m_input; // content read, reused from job to job
    std::vector<char> m_output; // compressed, reused likewise
};
