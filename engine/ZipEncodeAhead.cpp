#include "engine/ZipEncodeAhead.h"

#include "engine/ZipEntryEncoder.h"

namespace {

// What a result may take before it is made: the content, deflate's worst
// case growth and the encryption's additions.
std::size_t reservation(const ZipEntry& entry)
{
    return static_cast<std::size_t>(entry.size + entry.size / 1000 + 128);
}

} // namespace

ZipEncodeAhead::ZipEncodeAhead(const std::vector<ZipEntry>& entries, std::vector<bool> ahead, int level,
                               const std::string* password, unsigned threads, std::size_t budget)
    : m_entries(entries)
    , m_ahead(std::move(ahead))
    , m_level(level)
    , m_password(password)
    , m_budget(budget)
    , m_done(entries.size())
{
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
    for (;;) {
        while (m_next < m_entries.size() && !m_ahead[m_next])
            ++m_next;
        if (m_stop || m_next >= m_entries.size())
            return;
        const std::size_t index = m_next++;
        const std::size_t reserved = reservation(m_entries[index]);
        m_workerWake.wait(lock, [&] { return m_stop || m_held + reserved <= m_budget || index <= m_writerAt; });
        if (m_stop)
            return;
        m_held += reserved;
        lock.unlock();

        auto result = std::make_unique<EncodedEntry>();
        result->ok = encoder.start(m_entries[index], m_level, m_password) && encoder.encodeAll(&result->data);
        result->deflated = encoder.deflated();
        result->crc = encoder.crc();
        result->size = encoder.size();
        result->error = encoder.error();
        if (!result->ok)
            result->data.clear();

        lock.lock();
        m_held = m_held - reserved + result->data.size();
        m_done[index] = std::move(result);
        m_writerWake.notify_all();
    }
}

std::unique_ptr<EncodedEntry> ZipEncodeAhead::take(std::size_t index)
{
    std::unique_lock lock(m_mutex);
    if (index > m_writerAt) {
        m_writerAt = index;
        m_workerWake.notify_all();
    }
    m_writerWake.wait(lock, [&] { return m_done[index] != nullptr; });
    std::unique_ptr<EncodedEntry> result = std::move(m_done[index]);
    m_held -= result->data.size();
    m_workerWake.notify_all();
    return result;
}

void ZipEncodeAhead::reach(std::size_t index)
{
    {
        std::lock_guard lock(m_mutex);
        if (index <= m_writerAt)
            return;
        m_writerAt = index;
    }
    m_workerWake.notify_all();
}
