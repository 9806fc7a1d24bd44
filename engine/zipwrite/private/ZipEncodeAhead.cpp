#include "ZipEncodeAhead.h"

#include <algorithm>

namespace {

// What a result may take before it is made: the content, deflate's worst
// case growth and the encryption's additions.
std::size_t reservation(std::uint64_t length)
{
    return static_cast<std::size_t>(length + length / 1000 + 128);
}

} // namespace

ZipEncodeAhead::ZipEncodeAhead(const std::vector<ZipEntry>& entries, int level, const std::string* password,
    StopToken stop, unsigned threads, std::size_t budget)
    : m_entries(entries)
    , m_level(level)
    , m_password(password)
    , m_stopToken(std::move(stop))
    , m_budget(budget)
    , m_firstJob(entries.size() + 1)
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        m_firstJob[i] = m_jobs.size();
        const ZipEntry& entry = entries[i];
        if (entry.kind == ZipEntry::Kind::Directory)
            continue;
        if (entry.kind == ZipEntry::Kind::Symlink || entry.size <= kLargestWhole) {
            m_jobs.push_back({ i, 0, entry.size, true, true });
            continue;
        }
        for (std::uint64_t offset = 0; offset < entry.size; offset += kPieceSize) {
            const std::uint64_t length = std::min(kPieceSize, entry.size - offset);
            m_jobs.push_back({ i, offset, length, false, offset + length == entry.size });
        }
    }
    m_firstJob[entries.size()] = m_jobs.size();
    m_done.resize(m_jobs.size());
    m_ready.resize(m_jobs.size());
    for (unsigned i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

ZipEncodeAhead::~ZipEncodeAhead()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_workerWake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void ZipEncodeAhead::work()
{
    ZipEntryEncoder encoder;
    std::unique_lock lock(m_mutex);
    while (!m_stop && m_next < m_jobs.size()) {
        const std::size_t index = m_next++;
        const Job& job = m_jobs[index];
        const std::size_t reserved = reservation(job.length);
        // Pieces are claimed in order: the last one's claim is the file's last use.
        std::shared_ptr<OpenFile> file;
        if (!job.whole) {
            std::shared_ptr<OpenFile>& slot = m_open[job.entry];
            if (!slot)
                slot = std::make_shared<OpenFile>();
            file = slot;
            if (job.last)
                m_open.erase(job.entry);
        }
        // The job the writer waits for always goes ahead, or a budget that
        // only the writer can free would stop everything.
        const auto mayGo = [&] { return m_stop || m_held + reserved <= m_budget || index <= m_writerAt; };
        if (!mayGo()) {
            ++m_workersWaiting;
            m_workerWake.wait(lock, mayGo);
            --m_workersWaiting;
        }
        if (m_stop)
            return;
        m_held += reserved;
        lock.unlock();

        auto result = std::make_unique<EncodedPiece>();
        encode(encoder, job, file, result.get());
        file.reset();

        lock.lock();
        m_held = m_held - reserved + result->data.capacity();
        m_done[index] = std::move(result);
        if (m_password && !job.whole)
            sealInOrder(lock, job.entry);
        else
            markReady(index);
    }
}

void ZipEncodeAhead::encode(
    ZipEntryEncoder& encoder, const Job& job, const std::shared_ptr<OpenFile>& file, EncodedPiece* result)
{
    const ZipEntry& entry = m_entries[job.entry];
    if (m_stopToken.requested()) {
        result->outcome = { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
    } else if (job.whole) {
        result->outcome = encoder.encodeWhole(entry, m_level, m_password, result);
    } else {
        std::call_once(file->once, [&] { file->opened = ZipSourceFile::open(entry, &file->file); });
        result->outcome = !file->opened.ok()
            ? file->opened
            : encoder.encodePiece(*file->file, m_level, ZipEntryEncoder::deflates(entry, m_password, m_level),
                job.offset, job.length, job.last, result);
    }
}

void ZipEncodeAhead::markReady(std::size_t job)
{
    m_ready[job] = true;
    if (m_writerWaiting && job == m_writerAt)
        m_writerWake.notify_one();
}

// Encrypts the finished pieces of a large entry in order: counter mode and
// the authentication code run through the entry's data as one stream. Of
// the workers that finish its pieces, one at a time does it, outside the
// lock, while the others go on compressing; other entries are encrypted
// side by side.
void ZipEncodeAhead::sealInOrder(std::unique_lock<std::mutex>& lock, std::size_t entry)
{
    const std::size_t first = firstJob(entry);
    const std::size_t end = first + jobCount(entry);
    Sealing& sealing = m_sealing[entry];
    if (!sealing.encryptor) {
        sealing.encryptor = std::make_unique<ZipAesEncryptor>();
        sealing.next = first;
    }
    while (!sealing.busy && sealing.next < end && m_done[sealing.next]) {
        const std::size_t job = sealing.next;
        EncodedPiece& piece = *m_done[job];
        const std::size_t before = piece.data.capacity();
        sealing.busy = true;
        lock.unlock();
        if (piece.outcome.ok()) {
            std::string header;
            const bool sealed = (job != first || sealing.encryptor->start(*m_password, &header))
                && sealing.encryptor->encrypt(reinterpret_cast<unsigned char*>(piece.data.data()), piece.data.size())
                && (job + 1 != end || sealing.encryptor->finish(&piece.data));
            piece.data.insert(0, header);
            if (!sealed) {
                piece.outcome = { .status = Outcome::Status::Failed,
                    .message = QString::fromStdString(m_entries[entry].name + ": encryption failed") };
            }
        }
        lock.lock();
        m_held = m_held - before + piece.data.capacity();
        sealing.busy = false;
        // After a failure the writer stops at this piece: seal no further,
        // and keep the record so that later pieces find it done.
        sealing.failed = !piece.outcome.ok();
        sealing.next = piece.outcome.ok() ? job + 1 : end;
        markReady(job);
    }
    // Every piece was made before the last one was sealed: none will ask again.
    if (sealing.next == end && !sealing.failed)
        m_sealing.erase(entry);
}

std::unique_ptr<EncodedPiece> ZipEncodeAhead::take(std::size_t job)
{
    std::unique_lock lock(m_mutex);
    m_writerAt = std::max(m_writerAt, job);
    if (!m_ready[job]) {
        if (m_workersWaiting > 0)
            m_workerWake.notify_all();
        m_writerWaiting = true;
        m_writerWake.wait(lock, [&] { return m_ready[job]; });
        m_writerWaiting = false;
    }
    std::unique_ptr<EncodedPiece> result = std::move(m_done[job]);
    m_held -= result->data.capacity();
    if (m_workersWaiting > 0)
        m_workerWake.notify_all();
    return result;
}
