#include "engine/zipwrite/private/ZipEntryEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileCloser final {
    int fd;
    ~FileCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

ZipEntryEncoder::~ZipEntryEncoder()
{
    libdeflate_free_compressor(m_compressor);
    if (m_inflateReady)
        inflateEnd(&m_inflate);
}

bool ZipEntryEncoder::fail(EncodedPiece* result, const std::string& what, int error)
{
    result->data.clear();
    result->outcome = { .status = error == ENOSPC ? Outcome::Status::NoSpace : Outcome::Status::Failed,
        .message = QString::fromStdString(error != 0 ? what + ": " + std::strerror(error) : what) };
    return false;
}

// Reads up to `length` bytes from `offset` into m_input; `got` tells how many there were.
bool ZipEntryEncoder::readFile(
    const ZipEntry& entry, std::uint64_t offset, std::size_t length, std::size_t* got, EncodedPiece* result)
{
    // Inside the chosen items a link is stored as a link, so a regular file
    // that turned into a link since it was listed is not followed. Opening
    // without blocking keeps a file that turned into a pipe from hanging us.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (entry.followLink ? 0 : O_NOFOLLOW);
    const FileCloser file { ::open(entry.sourcePath.c_str(), flags) };
    if (file.fd < 0)
        return fail(result, entry.sourcePath, errno);
    struct stat st { };
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(result, entry.sourcePath + ": no longer a regular file", 0);

    m_input.resize(std::max(m_input.size(), length));
    *got = 0;
    while (*got < length) {
        const ssize_t n = ::pread(file.fd, m_input.data() + *got, length - *got, static_cast<off_t>(offset + *got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(result, entry.sourcePath, errno);
        if (n == 0)
            break;
        *got += static_cast<std::size_t>(n);
    }
    return true;
}

bool ZipEntryEncoder::encodeWhole(const ZipEntry& entry, int level, const std::string* password, EncodedPiece* result)
{
    const char* content = entry.linkTarget.data();
    std::size_t length = entry.linkTarget.size();
    if (entry.kind == ZipEntry::Kind::File) {
        if (!readFile(entry, 0, static_cast<std::size_t>(entry.size), &length, result))
            return false;
        content = m_input.data();
    }
    result->crc = libdeflate_crc32(0, content, length);
    result->size = length;
    result->deflated = deflates(entry, password);

    // Compress into the reused scratch buffer and keep an exact copy: a
    // result sized for the worst case would hold several times its bytes
    // while it waits for the writer.
    const char* stored = content;
    std::size_t storedLength = length;
    if (result->deflated && !compress(content, length, level, result, &stored, &storedLength))
        return false;

    std::string& out = result->data;
    out.clear();
    out.reserve(storedLength + (password ? ZipAesEncryptor::kOverhead : 0));
    if (password && !m_aes.start(*password, &out))
        return fail(result, "encryption failed", 0);
    const std::size_t begin = out.size();
    out.append(stored, storedLength);
    if (password
        && (!m_aes.encrypt(reinterpret_cast<unsigned char*>(out.data() + begin), storedLength) || !m_aes.finish(&out)))
        return fail(result, "encryption failed", 0);
    result->outcome = {};
    return true;
}

bool ZipEntryEncoder::compress(const char* content, std::size_t length, int level, EncodedPiece* result,
    const char** compressed, std::size_t* compressedLength)
{
    if (!m_compressor || m_compressorLevel != level) {
        libdeflate_free_compressor(m_compressor);
        m_compressor = libdeflate_alloc_compressor(level);
        m_compressorLevel = level;
        if (!m_compressor)
            return fail(result, "compressor", ENOMEM);
    }
    // Room for a stored block's worth more, for the end a piece may need.
    m_output.resize(std::max(m_output.size(), libdeflate_deflate_compress_bound(m_compressor, length) + 8));
    *compressedLength = libdeflate_deflate_compress(m_compressor, content, length, m_output.data(), m_output.size());
    *compressed = m_output.data();
    return *compressedLength > 0 || fail(result, "deflate", 0);
}

// Turns a complete deflate stream into one that the next piece continues:
// clears the final-block bit of its last block and ends it with an empty
// stored block, which brings it to a byte boundary (what zlib's sync flush
// writes). Where the last block starts, and how many bits of the last byte
// are unused, is found by inflating the stream one block at a time; the
// inflating checks the stream on the way.
bool ZipEntryEncoder::continueStream(std::size_t* length, EncodedPiece* result)
{
    if (!m_inflateReady) {
        m_inflateReady = inflateInit2(&m_inflate, -MAX_WBITS) == Z_OK;
        if (!m_inflateReady)
            return fail(result, "inflate", 0);
    } else if (inflateReset(&m_inflate) != Z_OK) {
        return fail(result, "inflate", 0);
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
            return fail(result, "deflate stream", 0);
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
            return fail(result, "deflate stream", 0);
    }
    if (m_inflate.avail_in != 0)
        return fail(result, "deflate stream", 0);
    stream[lastBlock / 8] &= static_cast<unsigned char>(~(1u << (lastBlock % 8)));
    // The stored block's three header bits are zero, like the padding they
    // take; when fewer than three bits are left they spill into a zero byte.
    if (unusedBits < 3)
        stream[(*length)++] = 0;
    for (const unsigned char byte : { 0x00, 0x00, 0xFF, 0xFF })
        stream[(*length)++] = byte;
    return true;
}

bool ZipEntryEncoder::encodePiece(
    const ZipEntry& entry, int level, std::uint64_t offset, std::uint64_t length, bool last, EncodedPiece* result)
{
    std::size_t got = 0;
    if (!readFile(entry, offset, static_cast<std::size_t>(length), &got, result))
        return false;
    if (got != length)
        return fail(result, entry.sourcePath + ": changed while being packed", 0);
    result->crc = libdeflate_crc32(0, m_input.data(), got);
    result->size = got;
    result->deflated = true;

    const char* compressed = nullptr;
    std::size_t compressedLength = 0;
    if (!compress(m_input.data(), got, level, result, &compressed, &compressedLength))
        return false;
    if (!last && !continueStream(&compressedLength, result))
        return false;
    result->data.assign(compressed, compressedLength);
    result->outcome = {};
    return true;
}
