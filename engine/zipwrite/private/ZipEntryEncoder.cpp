#include "ZipEntryEncoder.h"

#include "ZipSourceFile.h"

#include <algorithm>
#include <libdeflate.h>
#include <memory>

ZipEntryEncoder::~ZipEntryEncoder()
{
    libdeflate_free_compressor(m_compressor);
    if (m_inflateReady)
        inflateEnd(&m_inflate);
}

namespace {

// What went wrong inside the compressor or the cipher: never expected.
Outcome failure(const std::string& what)
{
    return { .status = Outcome::Status::Failed, .message = QString::fromStdString(what + " failed") };
}

} // namespace

Outcome ZipEntryEncoder::encodeWhole(
    const ZipEntry& entry, int level, const std::string* password, EncodedPiece* result)
{
    result->data.clear();
    const char* content = entry.linkTarget.data();
    std::size_t length = entry.linkTarget.size();
    if (entry.kind == ZipEntry::Kind::File) {
        std::unique_ptr<ZipSourceFile> file;
        if (Outcome opened = ZipSourceFile::open(entry, &file); !opened.ok())
            return opened;
        length = static_cast<std::size_t>(entry.size);
        m_input.resize(std::max(m_input.size(), length));
        if (Outcome read = file->read(0, length, m_input.data()); !read.ok())
            return read;
        content = m_input.data();
    }
    result->crc = libdeflate_crc32(0, content, length);
    result->size = length;
    result->deflated = deflates(entry, password, level);

    // Compress into the reused scratch buffer and keep an exact copy: a
    // result sized for the worst case would hold several times its bytes
    // while it waits for the writer.
    const char* stored = content;
    std::size_t storedLength = length;
    if (result->deflated) {
        if (Outcome compressed = compress(content, length, level, &stored, &storedLength); !compressed.ok())
            return compressed;
    }

    std::string& out = result->data;
    out.clear();
    out.reserve(storedLength + (password ? ZipAesEncryptor::kOverhead : 0));
    if (password && !m_aes.start(*password, &out))
        return failure(entry.name + ": encryption");
    const std::size_t begin = out.size();
    out.append(stored, storedLength);
    if (password
        && (!m_aes.encrypt(reinterpret_cast<unsigned char*>(out.data() + begin), storedLength) || !m_aes.finish(&out)))
        return failure(entry.name + ": encryption");
    return {};
}

Outcome ZipEntryEncoder::compress(
    const char* content, std::size_t length, int level, const char** compressed, std::size_t* compressedLength)
{
    if (!m_compressor || m_compressorLevel != level) {
        libdeflate_free_compressor(m_compressor);
        m_compressor = libdeflate_alloc_compressor(level);
        m_compressorLevel = level;
        if (!m_compressor)
            return failure("allocating the compressor");
    }
    // Room for a stored block's worth more, for the end a piece may need.
    m_output.resize(std::max(m_output.size(), libdeflate_deflate_compress_bound(m_compressor, length) + 8));
    *compressedLength = libdeflate_deflate_compress(m_compressor, content, length, m_output.data(), m_output.size());
    *compressed = m_output.data();
    return *compressedLength > 0 ? Outcome() : failure("deflate");
}

// Turns a complete deflate stream into one that the next piece continues:
// clears the final-block bit of its last block and ends it with an empty
// stored block, which brings it to a byte boundary (what zlib's sync flush
// writes). Where the last block starts, and how many bits of the last byte
// are unused, is found by inflating the stream one block at a time; the
// inflating checks the stream on the way.
Outcome ZipEntryEncoder::continueStream(std::size_t* length)
{
    if (!m_inflateReady) {
        m_inflateReady = inflateInit2(&m_inflate, -MAX_WBITS) == Z_OK;
        if (!m_inflateReady)
            return failure("inflate");
    } else if (inflateReset(&m_inflate) != Z_OK) {
        return failure("inflate");
    }
    unsigned char* stream = reinterpret_cast<unsigned char*>(m_output.data());
    m_inflate.next_in = stream;
    m_inflate.avail_in = static_cast<uInt>(*length);
    std::uint64_t lastBlock = 0; // bit where the last block's header starts
    unsigned unusedBits = 0; // after the last block, in the last byte
    unsigned char scratch[64 * 1024];
    for (;;) {
        m_inflate.next_out = scratch;
        m_inflate.avail_out = sizeof scratch;
        if (inflate(&m_inflate, Z_BLOCK) != Z_OK)
            return failure("deflate stream");
        // Stopped at the end of a block (128), maybe the last one (64); the
        // low bits count the unused bits of the last byte read.
        const int type = m_inflate.data_type;
        const std::uint64_t nextBit = (*length - m_inflate.avail_in) * 8 - static_cast<unsigned>(type & 7);
        if ((type & 128) && (type & 64)) {
            unusedBits = static_cast<unsigned>(type & 7);
            break;
        }
        if (type & 128)
            lastBlock = nextBit;
        else if (m_inflate.avail_in == 0 && m_inflate.avail_out != 0)
            return failure("deflate stream");
    }
    if (m_inflate.avail_in != 0)
        return failure("deflate stream");
    stream[lastBlock / 8] &= static_cast<unsigned char>(~(1u << (lastBlock % 8)));
    // The stored block's three header bits are zero, like the padding they
    // take; when fewer than three bits are left they spill into a zero byte.
    if (unusedBits < 3)
        stream[(*length)++] = 0;
    for (const unsigned char byte : { 0x00, 0x00, 0xFF, 0xFF })
        stream[(*length)++] = byte;
    return {};
}

Outcome ZipEntryEncoder::encodePiece(const ZipSourceFile& file, int level, bool deflated, std::uint64_t offset,
    std::uint64_t length, bool last, EncodedPiece* result)
{
    result->data.clear();
    const auto got = static_cast<std::size_t>(length);
    m_input.resize(std::max(m_input.size(), got));
    if (Outcome read = file.read(offset, got, m_input.data()); !read.ok())
        return read;
    if (!deflated) {
        result->crc = libdeflate_crc32(0, m_input.data(), got);
        result->size = got;
        result->deflated = false;
        result->data.assign(m_input.data(), got);
        return {};
    }
    result->crc = libdeflate_crc32(0, m_input.data(), got);
    result->size = got;
    result->deflated = true;

    const char* compressed = nullptr;
    std::size_t compressedLength = 0;
    if (Outcome done = compress(m_input.data(), got, level, &compressed, &compressedLength); !done.ok())
        return done;
    if (!last) {
        if (Outcome continued = continueStream(&compressedLength); !continued.ok())
            return continued;
    }
    result->data.assign(compressed, compressedLength);
    return {};
}
