#include "engine/extract/SmallFileWriters.h"

#include "engine/extract/TarFormat.h"
#include "engine/safety/EntrySink.h"

#include <QRandomGenerator>
#include <system_error>

namespace {

// Past this many names tracked, the reader waits for the queue and starts
// afresh, so that the sets stay small.
constexpr qsizetype kMaxTracked = 1 << 16;

} // namespace

SmallFileWriters::SmallFileWriters(EntrySink& sink, Placed placed)
    : m_sink(sink)
    , m_placed(std::move(placed))
    , m_seed(static_cast<std::size_t>(QRandomGenerator::system()->generate64()))
{
}

SmallFileWriters::~SmallFileWriters()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_work.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

bool SmallFileWriters::start(unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        try {
            m_threads.emplace_back([this] { work(); });
        } catch (const std::system_error& error) {
            qCWarning(lcEngineTar, "writing files on fewer threads: %s", error.what());
            break;
        }
    }
    return !m_threads.empty();
}

std::vector<std::size_t> SmallFileWriters::prefixHashes(const QStringList& path) const
{
    std::vector<std::size_t> hashes;
    hashes.reserve(static_cast<std::size_t>(path.size()));
    std::size_t hash = m_seed;
    for (const QString& component : path) {
        hash = hash * 1000003u ^ qHash(component, m_seed);
        hashes.push_back(hash);
    }
    return hashes;
}

void SmallFileWriters::makeWayFor(const QStringList& path, bool leaf)
{
    if (m_threads.empty() || path.isEmpty())
        return;
    if (m_queuedLeaves.isEmpty() && m_queuedFolders.isEmpty())
        return;
    const std::vector<std::size_t> hashes = prefixHashes(path);
    // A hash collision only costs a wait.
    bool clash = leaf && m_queuedFolders.contains(hashes.back());
    for (std::size_t i = 0; i < hashes.size() && !clash; ++i)
        clash = m_queuedLeaves.contains(hashes[i]);
    if (clash || m_queuedLeaves.size() > kMaxTracked || idle()) {
        if (clash || m_queuedLeaves.size() > kMaxTracked)
            drain();
        m_queuedLeaves.clear();
        m_queuedFolders.clear();
    }
}

void SmallFileWriters::post(File file)
{
    const std::vector<std::size_t> hashes = prefixHashes(file.path);
    if (!hashes.empty()) {
        m_queuedLeaves.insert(hashes.back());
        for (std::size_t i = 0; i + 1 < hashes.size(); ++i)
            m_queuedFolders.insert(hashes[i]);
    }
    std::unique_lock lock(m_mutex);
    const qint64 size = file.data.size();
    // One file alone may pass the limit: the queue must take it.
    const auto fits
        = [&] { return m_queue.empty() || (m_queuedBytes + size <= kMaxQueued && m_queue.size() < kMaxQueuedFiles); };
    if (!fits())
        waitFor(lock, Waiting::ForRoom, fits);
    m_queuedBytes += size;
    m_queue.push_back(std::move(file));
    // Idle writers are woken for a batch, not for every file: with the
    // writers behind, which is the usual case, a file costs no wake-up.
    const bool wake = m_idleWorkers > 0 && (m_queue.size() >= kWakeFiles || m_queuedBytes >= kWakeBytes);
    lock.unlock();
    if (wake)
        m_work.notify_one();
}

void SmallFileWriters::kick()
{
    std::unique_lock lock(m_mutex);
    const bool wake = m_idleWorkers > 0 && !m_queue.empty();
    lock.unlock();
    if (wake)
        m_work.notify_all();
}

void SmallFileWriters::drain()
{
    std::unique_lock lock(m_mutex);
    waitFor(lock, Waiting::ForEnd, [this] { return m_queue.empty() && m_busy == 0; });
}

template <typename Predicate>
void SmallFileWriters::waitFor(std::unique_lock<std::mutex>& lock, Waiting why, Predicate done)
{
    if (done())
        return;
    m_waiting = why;
    m_work.notify_all(); // whatever is queued, however little
    m_room.wait(lock, done);
    m_waiting = Waiting::No;
}

bool SmallFileWriters::idle()
{
    const std::lock_guard lock(m_mutex);
    return m_queue.empty() && m_busy == 0;
}

void SmallFileWriters::work()
{
    for (;;) {
        File file;
        bool wakeReader = false;
        {
            std::unique_lock lock(m_mutex);
            while (m_queue.empty() && !m_closing) {
                ++m_idleWorkers;
                m_work.wait(lock);
                --m_idleWorkers;
            }
            if (m_queue.empty())
                return;
            file = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= file.data.size();
            ++m_busy;
            // A reader waiting for room goes on once half the queue is free,
            // not at every file taken.
            wakeReader = m_waiting == Waiting::ForRoom && m_queue.size() <= kMaxQueuedFiles / 2
                && m_queuedBytes <= kMaxQueued / 2;
        }
        if (wakeReader)
            m_room.notify_one();
        write(file);
        {
            const std::lock_guard lock(m_mutex);
            --m_busy;
            wakeReader = m_waiting == Waiting::ForEnd && m_queue.empty() && m_busy == 0;
        }
        if (wakeReader)
            m_room.notify_one();
    }
}

void SmallFileWriters::write(File& file)
{
    if (m_sink.stopRequested())
        return;
    PendingFile out;
    if (m_sink.beginFile(file.path, out, file.meta) && m_sink.write(out, file.data.constData(), file.data.size())
        && m_sink.commitFile(out, file.meta))
        m_placed(file.path);
}
