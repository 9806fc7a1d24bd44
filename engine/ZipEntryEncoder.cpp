#include "engine/ZipEntryEncoder.h"

#include <libdeflate.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kDictionarySize = 32 * 1024;

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
    if (m_zipReady)
        deflateEnd(&m_zip);
}

bool ZipEntryEncoder::fail(EncodedPiece* result, const std::string& what, int error)
{
    result->ok = false;
    result->data.clear();
    result->error = error != 0 ? what + ": " + std::strerror(error) : what;
    return false;
}

// Reads up to `length` bytes from `offset` into m_input; `got` tells how many there were.
bool ZipEntryEncoder::readFile(const ZipEntry& entry, std::uint64_t offset, std::size_t length, std::size_t* got,
                               EncodedPiece* result)
{
    // Inside the chosen items a link is stored as a link, so a regular file
    // that turned into a link since it was listed is not followed. Opening
    // without blocking keeps a file that turned into a pipe from hanging us.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (entry.followLink ? 0 : O_NOFOLLOW);
    const FileCloser file {::open(entry.sourcePath.c_str(), flags)};
    if (file.fd < 0)
        return fail(result, entry.sourcePath, errno);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(result, entry.sourcePath + ": no longer a regular file", 0);

    m_input.resize(std::max(m_input.size(), length));
    *got = 0;
    while (*got < length) {
        const ssize_t n = ::pread(file.fd, m_input.data() + *got, length - *got,
                                  static_cast<off_t>(offset + *got));
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

bool ZipEntryEncoder::encodeWhole(const ZipEntry& entry, int level, const std::string* password,
                                  EncodedPiece* result)
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
    if (result->deflated) {
        if (!m_compressor || m_compressorLevel != level) {
            libdeflate_free_compressor(m_compressor);
            m_compressor = libdeflate_alloc_compressor(level);
            m_compressorLevel = level;
            if (!m_compressor)
                return fail(result, "compressor", ENOMEM);
        }
        m_output.resize(std::max(m_output.size(), libdeflate_deflate_compress_bound(m_compressor, length)));
        storedLength = libdeflate_deflate_compress(m_compressor, content, length, m_output.data(), m_output.size());
        if (storedLength == 0)
            return fail(result, "deflate", 0);
        stored = m_output.data();
    }

    std::string& out = result->data;
    out.clear();
    out.reserve(storedLength + (password ? ZipAesEncryptor::kOverhead : 0));
    if (password && !m_aes.start(*password, &out))
        return fail(result, "encryption failed", 0);
    const std::size_t begin = out.size();
    out.append(stored, storedLength);
    if (password
        && (!m_aes.encrypt(reinterpret_cast<unsigned char*>(out.data() + begin), storedLength)
            || !m_aes.finish(&out)))
        return fail(result, "encryption failed", 0);
    result->ok = true;
    return true;
}

bool ZipEntryEncoder::prepareZlib(int level)
{
    if (m_zipReady && level == m_zipLevel)
        return deflateReset(&m_zip) == Z_OK;
    if (m_zipReady)
        deflateEnd(&m_zip);
    m_zip = {};
    // Raw deflate (no zlib header) with the window and memory zip uses.
    m_zipReady = deflateInit2(&m_zip, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    m_zipLevel = m_zipReady ? level : -1;
    return m_zipReady;
}

bool ZipEntryEncoder::encodePiece(const ZipEntry& entry, int level, std::uint64_t offset, std::uint64_t length,
                                  bool last, EncodedPiece* result)
{
    const auto dictionary = static_cast<std::size_t>(std::min<std::uint64_t>(offset, kDictionarySize));
    std::size_t got = 0;
    if (!readFile(entry, offset - dictionary, dictionary + static_cast<std::size_t>(length), &got, result))
        return false;
    if (got != dictionary + length)
        return fail(result, entry.sourcePath + ": changed while being packed", 0);
    if (!prepareZlib(level))
        return fail(result, "deflate", 0);
    const char* content = m_input.data() + dictionary;
    if (dictionary > 0
        && deflateSetDictionary(&m_zip, reinterpret_cast<const Bytef*>(m_input.data()),
                                static_cast<uInt>(dictionary))
            != Z_OK)
        return fail(result, "deflate", 0);
    result->crc = libdeflate_crc32(0, content, static_cast<std::size_t>(length));
    result->size = length;
    result->deflated = true;

    // A sync flush ends the piece on a byte boundary without ending the stream.
    m_output.resize(std::max<std::size_t>(m_output.size(), deflateBound(&m_zip, static_cast<uLong>(length)) + 16));
    m_zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content));
    m_zip.avail_in = static_cast<uInt>(length);
    m_zip.next_out = reinterpret_cast<Bytef*>(m_output.data());
    m_zip.avail_out = static_cast<uInt>(m_output.size());
    const int status = deflate(&m_zip, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (status != (last ? Z_STREAM_END : Z_OK) || m_zip.avail_in != 0 || m_zip.avail_out == 0)
        return fail(result, "deflate", 0);
    result->data.assign(m_output.data(), m_output.size() - m_zip.avail_out);
    result->ok = true;
    return true;
}
