#include "engine/extract/DecompressAhead.h"

#include <QFile>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <system_error>

namespace {

// What libarchive's failure to open or decompress means for the job.
Outcome openFailure(archive* handle, const QString& path)
{
    const int error = archive_errno(handle);
    const QString message = path + QStringLiteral(": ") + QString::fromLocal8Bit(archive_error_string(handle));
    if (error == EACCES || error == EPERM)
        return { .status = Outcome::Status::NoPermission, .message = message };
    // A system error number: the file itself cannot be read. libarchive
    // says EILSEQ, or -1, for data it cannot make sense of.
    if (error > 0 && error != EILSEQ)
        return { .status = Outcome::Status::Failed, .message = message };
    return { .status = Outcome::Status::Damaged, .message = message };
}

} // namespace

DecompressAhead::DecompressAhead(const QString& path, const TarFormat& format)
    : m_path(path)
    , m_format(format)
{
}

DecompressAhead::~DecompressAhead()
{
    if (m_threaded) {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    if (m_archive)
        archive_read_free(m_archive);
}

Outcome DecompressAhead::start()
{
    m_archive = archive_read_new();
    // The expected compression alone: a file compressed otherwise, or not at
    // all, reads as itself and is told apart by its filter below. "raw"
    // takes the decompressed bytes as one entry, "empty" the lack of any.
    archive_read_support_filter_by_code(m_archive, m_format.filterCode());
    archive_read_support_format_raw(m_archive);
    archive_read_support_format_empty(m_archive);
    if (archive_read_open_filename(m_archive, QFile::encodeName(m_path).constData(), kBlockSize) != ARCHIVE_OK)
        return openFailure(m_archive, m_path);
    archive_entry* entry = nullptr;
    const int header = archive_read_next_header(m_archive, &entry);
    if (header != ARCHIVE_OK && header != ARCHIVE_WARN && header != ARCHIVE_EOF)
        return openFailure(m_archive, m_path);
    if (archive_filter_code(m_archive, 0) != m_format.filterCode()) {
        return { .status = Outcome::Status::NotAnArchive,
            .message = m_path + QStringLiteral(": not compressed as %1 says").arg(m_format.suffix) };
    }
    if (header == ARCHIVE_EOF) {
        m_ended = true; // nothing inside
        return {};
    }
    if (archive_entry_mtime_is_set(entry))
        m_storedTime = timespec { archive_entry_mtime(entry), archive_entry_mtime_nsec(entry) };
    for (Block& block : m_blocks)
        block.data = std::make_unique<char[]>(kBlockSize);
    try {
        m_thread = std::thread([this] { produce(); });
        m_threaded = true;
    } catch (const std::system_error& error) {
        qCWarning(lcEngineTar, "decompressing on the reading thread: %s", error.what());
    }
    return {};
}

bool DecompressAhead::fill(Block& block)
{
    const la_ssize_t n = archive_read_data(m_archive, block.data.get(), kBlockSize);
    block.size = n > 0 ? n : 0;
    m_consumed.store(archive_filter_bytes(m_archive, -1), std::memory_order_relaxed);
    if (n > 0)
        return true;
    const std::lock_guard lock(m_mutex);
    m_ended = true;
    if (n < 0) {
        m_failure = { .status = Outcome::Status::Damaged,
            .message = m_path + QStringLiteral(": ") + QString::fromLocal8Bit(archive_error_string(m_archive)) };
    }
    return false;
}

void DecompressAhead::produce()
{
    for (std::size_t writeAt = 0;; writeAt = (writeAt + 1) % kBlocks) {
        {
            // The block the reader holds is never written over.
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_ready + (m_holding ? 1 : 0) < kBlocks; });
            if (m_stop)
                return;
        }
        const bool filled = fill(m_blocks[writeAt]);
        {
            const std::lock_guard lock(m_mutex);
            if (filled)
                ++m_ready;
        }
        m_changed.notify_all();
        if (!filled)
            return;
    }
}

qint64 DecompressAhead::next(const char** data)
{
    if (!m_threaded) {
        if (m_ended || !m_blocks[0].data)
            return m_failure.ok() ? 0 : -1;
        if (!fill(m_blocks[0]))
            return m_failure.ok() ? 0 : -1;
        *data = m_blocks[0].data.get();
        return m_blocks[0].size;
    }
    std::unique_lock lock(m_mutex);
    if (m_holding) {
        m_holding = false;
        m_changed.notify_all();
    }
    m_changed.wait(lock, [this] { return m_ready > 0 || m_ended; });
    if (m_ready == 0)
        return m_failure.ok() ? 0 : -1;
    const Block& block = m_blocks[m_readAt];
    m_readAt = (m_readAt + 1) % kBlocks;
    --m_ready;
    m_holding = true;
    *data = block.data.get();
    return block.size;
}

Outcome DecompressAhead::failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_failure;
}
