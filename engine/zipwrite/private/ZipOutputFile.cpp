#include "ZipOutputFile.h"

#include "ArchivePlacement.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// Large enough that the many small writes libzip makes per entry (headers,
// 8 KiB data chunks, the header rewritten after the data) cost no system
// call of their own.
constexpr std::size_t kBufferSize = 1 << 20;

std::atomic<std::int64_t> g_writeLimit { -1 };

} // namespace

ZipOutputFile::ZipOutputFile(std::string destination, bool replace)
    : m_destination(std::move(destination))
    , m_replace(replace)
{
    zip_error_init(&m_error);
}

ZipOutputFile::~ZipOutputFile()
{
    discard();
    zip_error_fini(&m_error);
}

void ZipOutputFile::setWriteLimitForTesting(std::int64_t bytes)
{
    g_writeLimit = bytes;
}

zip_source_t* ZipOutputFile::createSource(zip_error_t* error)
{
    return zip_source_function_create(&ZipOutputFile::callback, this, error);
}

zip_int64_t ZipOutputFile::callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* self = static_cast<ZipOutputFile*>(state);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT:
        // The archive is always made anew: report that there is none yet.
        return self->fail(ZIP_ER_READ, ENOENT);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self->m_error, data, length);
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_BEGIN_WRITE:
        return self->beginWrite() ? 0 : -1;
    case ZIP_SOURCE_WRITE:
        return self->write(data, static_cast<std::size_t>(length)) ? static_cast<zip_int64_t>(length) : -1;
    case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t offset = zip_source_seek_compute_offset(static_cast<zip_uint64_t>(self->m_position),
            static_cast<zip_uint64_t>(self->m_size), data, length, &self->m_error);
        if (offset < 0)
            return -1;
        self->m_position = offset;
        return 0;
    }
    case ZIP_SOURCE_TELL_WRITE:
        return self->m_position;
    case ZIP_SOURCE_COMMIT_WRITE:
        return self->commit() ? 0 : -1;
    case ZIP_SOURCE_ROLLBACK_WRITE:
        self->discard();
        return 0;
    default:
        // Reading the archive back, or removing it, is never needed for a new archive.
        return self->fail(ZIP_ER_OPNOTSUPP, 0);
    }
}

zip_int64_t ZipOutputFile::fail(int zipError, int systemError)
{
    zip_error_set(&m_error, zipError, systemError);
    return -1;
}

bool ZipOutputFile::beginWrite()
{
    discard();
    if (const Outcome created = ArchivePlacement::createFile(m_destination, &m_fd, &m_temporaryPath); !created.ok()) {
        fail(ZIP_ER_TMPOPEN, errno);
        return false;
    }
    m_buffer.reserve(kBufferSize);
    m_bufferOffset = m_position = m_size = m_written = 0;
    return true;
}

bool ZipOutputFile::write(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const char*>(data);
    const std::int64_t bufferEnd = m_bufferOffset + static_cast<std::int64_t>(m_buffer.size());
    // libzip goes back to rewrite each entry's local header once its data is
    // written; while that header is still buffered it is patched in place.
    if (!m_buffer.empty() && (m_position < m_bufferOffset || m_position > bufferEnd) && !flush())
        return false;
    if (m_buffer.empty()) {
        m_bufferOffset = m_position;
        if (length >= kBufferSize) {
            if (!writeOut(bytes, length, m_position))
                return false;
            m_position += static_cast<std::int64_t>(length);
            m_size = std::max(m_size, m_position);
            return true;
        }
    }
    const auto at = static_cast<std::size_t>(m_position - m_bufferOffset);
    const std::size_t overlap = std::min(length, m_buffer.size() - at);
    std::memcpy(m_buffer.data() + at, bytes, overlap);
    m_buffer.insert(m_buffer.end(), bytes + overlap, bytes + length);
    m_position += static_cast<std::int64_t>(length);
    m_size = std::max(m_size, m_position);
    return m_buffer.size() < kBufferSize || flush();
}

bool ZipOutputFile::flush()
{
    if (m_buffer.empty())
        return true;
    const bool ok = writeOut(m_buffer.data(), m_buffer.size(), m_bufferOffset);
    m_buffer.clear();
    return ok;
}

bool ZipOutputFile::writeOut(const char* data, std::size_t length, std::int64_t offset)
{
    const std::int64_t limit = g_writeLimit.load();
    while (length > 0) {
        std::size_t chunk = length;
        if (limit >= 0) {
            const std::int64_t room = std::max<std::int64_t>(0, limit - m_written);
            if (room == 0) {
                fail(ZIP_ER_WRITE, ENOSPC);
                return false;
            }
            chunk = std::min<std::size_t>(chunk, static_cast<std::size_t>(room));
        }
        const ssize_t done = ::pwrite(m_fd, data, chunk, offset);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            fail(ZIP_ER_WRITE, errno);
            return false;
        }
        data += done;
        length -= static_cast<std::size_t>(done);
        offset += done;
        m_written += done;
    }
    return true;
}

bool ZipOutputFile::commit()
{
    if (!flush()) {
        discard();
        return false;
    }
    // The data must be on the disk before the name points at it: after a
    // power loss a renamed but unsynced file can come back empty, and it may
    // have replaced an older archive. Some file systems report a failed
    // write-back only when the file is closed.
    if (!ArchivePlacement::sync(m_fd)) {
        fail(ZIP_ER_WRITE, errno);
        discard();
        return false;
    }
    const int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0) {
        fail(ZIP_ER_CLOSE, errno);
        discard();
        return false;
    }
    if (const Outcome placed = ArchivePlacement::place(m_temporaryPath, m_destination, m_replace); !placed.ok()) {
        fail(placed.status == Outcome::Status::NameTaken ? ZIP_ER_EXISTS : ZIP_ER_RENAME, errno);
        discard();
        return false;
    }
    m_temporaryPath.clear();
    return true;
}

void ZipOutputFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporaryPath.empty()) {
        ::unlink(m_temporaryPath.c_str());
        m_temporaryPath.clear();
    }
    m_buffer.clear();
}
