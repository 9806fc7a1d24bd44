#include "engine/extract/TarStream.h"

#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>

namespace {

// libarchive's read callback over the decompressed blocks; a block stays
// valid until the next call, as libarchive expects. A stop ends the reading
// here too: libarchive skips an entry's data (one not chosen, or kept) by
// reading it, which for a huge entry takes long.
la_ssize_t readAhead(archive* handle, void* stream, const void** buffer)
{
    TarStream& self = *static_cast<TarStream*>(stream);
    if (self.stopRequested()) {
        archive_set_error(handle, ECANCELED, "stopped");
        return ARCHIVE_FATAL;
    }
    const char* data = nullptr;
    const qint64 size = self.ahead().next(&data);
    if (size < 0) {
        archive_set_error(handle, EILSEQ, "%s", qUtf8Printable(self.ahead().failure().message));
        return ARCHIVE_FATAL;
    }
    *buffer = data;
    return static_cast<la_ssize_t>(size);
}

// libarchive's results other than success, a warning and the end: ARCHIVE_RETRY
// (a header that fails its checksum) too, since a broken tar is a failed job.
bool failed(int result)
{
    return result != ARCHIVE_OK && result != ARCHIVE_WARN && result != ARCHIVE_EOF;
}

} // namespace

TarStream::TarStream(const QString& path, const TarFormat& format)
    : m_path(path)
    , m_format(format)
{
}

TarStream::~TarStream()
{
    if (m_archive)
        archive_read_free(m_archive);
}

Outcome TarStream::failure(Outcome::Status status) const
{
    // The decompressor's own failure says more than the tar reader's.
    if (m_ahead) {
        const Outcome ahead = m_ahead->failure();
        if (!ahead.ok())
            return ahead;
    }
    const int error = archive_errno(m_archive);
    if (error == EACCES || error == EPERM)
        status = Outcome::Status::NoPermission;
    return { .status = status,
        .message = m_path + QStringLiteral(": ") + QString::fromLocal8Bit(archive_error_string(m_archive)) };
}

double TarStream::fractionRead() const
{
    if (m_fileSize <= 0 || !m_archive)
        return 0.0;
    const qint64 read = m_ahead ? m_ahead->consumed() : archive_filter_bytes(m_archive, -1);
    return static_cast<double>(read) / static_cast<double>(m_fileSize);
}

Outcome TarStream::open()
{
    m_fileSize = QFileInfo(m_path).size();
    m_archive = archive_read_new();
    // Every tar dialect (v7, ustar, pax, GNU with its long names and
    // sparse files), and nothing else: no filter either, since a compressed
    // tar comes decompressed from m_ahead.
    archive_read_support_format_tar(m_archive);
    int opened = ARCHIVE_OK;
    if (m_format.compression == TarFormat::Compression::None) {
        opened = archive_read_open_filename(
            m_archive, QFile::encodeName(m_path).constData(), static_cast<size_t>(DecompressAhead::kBlockSize));
    } else {
        m_ahead = std::make_unique<DecompressAhead>(m_path, m_format);
        if (const Outcome started = m_ahead->start(); !started.ok())
            return started;
        opened = archive_read_open(m_archive, this, nullptr, readAhead, nullptr);
    }
    if (opened == ARCHIVE_OK)
        opened = archive_read_next_header(m_archive, &m_first);
    if (opened == ARCHIVE_EOF)
        m_first = nullptr;
    else if (failed(opened)) {
        // A system error is the file's; anything else means no tar.
        const int error = archive_errno(m_archive);
        return failure(error > 0 && error != EILSEQ ? Outcome::Status::Failed : Outcome::Status::NotAnArchive);
    }
    return {};
}

Outcome TarStream::next(archive_entry** entry)
{
    if (!m_started) {
        m_started = true;
        *entry = m_first;
        return {};
    }
    *entry = nullptr;
    const int read = archive_read_next_header(m_archive, entry);
    if (read == ARCHIVE_EOF) {
        *entry = nullptr;
        return {};
    }
    if (failed(read)) {
        *entry = nullptr;
        return failure(Outcome::Status::Damaged);
    }
    if (read == ARCHIVE_WARN)
        qCInfo(lcEngineTar, "%s: %s", qUtf8Printable(m_path), archive_error_string(m_archive));
    return {};
}

Outcome TarStream::readBlock(const char** data, qint64* size, qint64* offset)
{
    const void* block = nullptr;
    size_t length = 0;
    la_int64_t at = 0;
    const int read = archive_read_data_block(m_archive, &block, &length, &at);
    *size = 0;
    if (read == ARCHIVE_EOF)
        return {};
    if (failed(read))
        return failure(Outcome::Status::Damaged);
    *data = static_cast<const char*>(block);
    *size = static_cast<qint64>(length);
    *offset = at;
    return {};
}
