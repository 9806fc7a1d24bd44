#include "engine/ZipEntryEncoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kReadSize = 256 * 1024;
// next() hands out about this much at a time when streaming.
constexpr std::size_t kPieceSize = 256 * 1024;

} // namespace

ZipEntryEncoder::~ZipEntryEncoder()
{
    closeFile();
    if (m_zipReady)
        deflateEnd(&m_zip);
}

bool ZipEntryEncoder::fail(const std::string& what, int error)
{
    m_error = what;
    if (error != 0)
        m_error += std::string(": ") + std::strerror(error);
    closeFile();
    return false;
}

void ZipEntryEncoder::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool ZipEntryEncoder::start(const ZipEntry& entry, int level, const std::string* password)
{
    closeFile();
    m_entry = &entry;
    m_error.clear();
    m_crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    m_size = 0;
    m_inputDone = m_finished = m_linkRead = m_headerWritten = false;
    m_password = password;
    m_deflate = deflates(entry, password);

    if (m_deflate) {
        if (m_zipReady && level == m_level) {
            deflateReset(&m_zip);
        } else {
            if (m_zipReady)
                deflateEnd(&m_zip);
            m_zip = {};
            // Raw deflate (no zlib header), the window and memory zip uses.
            m_zipReady = deflateInit2(&m_zip, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
            m_level = m_zipReady ? level : -1;
            if (!m_zipReady)
                return fail("deflate", 0);
        }
    }
    if (entry.kind != ZipEntry::Kind::File)
        return true;

    // Inside the chosen items a link is stored as a link, so a regular file
    // that turned into a link since it was listed is not followed. Opening
    // without blocking keeps a file that turned into a pipe from hanging us.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (entry.followLink ? 0 : O_NOFOLLOW);
    m_fd = ::open(entry.sourcePath.c_str(), flags);
    if (m_fd < 0)
        return fail(entry.sourcePath, errno);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(entry.sourcePath + ": no longer a regular file", 0);
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_input.resize(kReadSize);
    return true;
}

bool ZipEntryEncoder::read(const char** data, std::size_t* length)
{
    if (m_entry->kind == ZipEntry::Kind::Symlink) {
        *data = m_entry->linkTarget.data();
        *length = m_linkRead ? 0 : m_entry->linkTarget.size();
        m_linkRead = true;
        return true;
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, m_input.data(), m_input.size());
        if (n >= 0) {
            *data = m_input.data();
            *length = static_cast<std::size_t>(n);
            return true;
        }
        if (errno != EINTR)
            return fail(m_entry->sourcePath, errno);
    }
}

bool ZipEntryEncoder::compress(const char* data, std::size_t length, bool last, std::string* out)
{
    m_zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    m_zip.avail_in = static_cast<uInt>(length);
    for (;;) {
        // Room for what this input can become; small entries stay small.
        const std::size_t room = std::clamp<std::size_t>(deflateBound(&m_zip, m_zip.avail_in), 1024, 256 * 1024);
        const std::size_t at = out->size();
        out->resize(at + room);
        m_zip.next_out = reinterpret_cast<Bytef*>(out->data() + at);
        m_zip.avail_out = static_cast<uInt>(room);
        const int result = deflate(&m_zip, last ? Z_FINISH : Z_NO_FLUSH);
        out->resize(at + room - m_zip.avail_out);
        if (result == Z_STREAM_ERROR)
            return fail("deflate", 0);
        if (last ? result == Z_STREAM_END : m_zip.avail_in == 0 && m_zip.avail_out != 0)
            return true;
    }
}

bool ZipEntryEncoder::next(std::string* out, bool* finished)
{
    *finished = m_finished;
    if (m_finished)
        return true;
    if (m_password && !m_headerWritten && !m_aes.start(*m_password, out))
        return fail("encryption", 0);
    m_headerWritten = true;

    const std::size_t begin = out->size();
    while (!m_inputDone && out->size() - begin < kPieceSize) {
        const char* data = nullptr;
        std::size_t length = 0;
        if (!read(&data, &length))
            return false;
        m_inputDone = length == 0;
        m_crc = static_cast<std::uint32_t>(crc32_z(m_crc, reinterpret_cast<const Bytef*>(data), length));
        m_size += length;
        if (!m_deflate)
            out->append(data, length);
        else if (!compress(data, length, m_inputDone, out))
            return false;
    }
    if (m_password && out->size() > begin
        && !m_aes.encrypt(reinterpret_cast<unsigned char*>(out->data() + begin), out->size() - begin))
        return fail("encryption", 0);
    if (m_inputDone) {
        if (m_password && !m_aes.finish(out))
            return fail("encryption", 0);
        closeFile();
        m_finished = true;
    }
    *finished = m_finished;
    return true;
}

bool ZipEntryEncoder::encodeAll(std::string* out)
{
    out->clear();
    out->reserve(static_cast<std::size_t>(std::min<std::uint64_t>(m_entry->size + m_entry->size / 1000 + 64, 1 << 24)));
    for (bool finished = false; !finished;) {
        if (!next(out, &finished))
            return false;
    }
    return true;
}
