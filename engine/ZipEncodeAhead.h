#pragma once

#include "engine/ZipEntryList.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One entry encoded in full: the stored bytes and what the headers need.
struct EncodedEntry final {
    bool ok = false;
    bool deflated = true;
    std::string data;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    std::string error;
};

// Encodes entries on worker threads ahead of the thread that writes the
// archive, which then only copies their bytes: all cores compress while the
// archive is still written in list order. Only the entries marked `ahead`
// are taken (the writer streams the others itself), and finished results
// wait within a memory budget, so the workers never run more than that
// far ahead. The writer calls take() and reach() from one thread.
class ZipEncodeAhead final {
public:
    ZipEncodeAhead(const std::vector<ZipEntry>& entries, std::vector<bool> ahead, int level,
                   const std::string* password, unsigned threads, std::size_t budget);
    ~ZipEncodeAhead(); // stops the workers, dropping unfinished work
    ZipEncodeAhead(const ZipEncodeAhead&) = delete;
    ZipEncodeAhead& operator=(const ZipEncodeAhead&) = delete;

    // Waits for entry `index` (one marked ahead) and hands it over.
    std::unique_ptr<EncodedEntry> take(std::size_t index);
    // Tells the workers the writer has got to `index`: entries up to it may
    // be encoded even when the budget is spent, so the writer never waits
    // on a budget that only it can free.
    void reach(std::size_t index);

private:
    void work();

    const std::vector<ZipEntry>& m_entries;
    const std::vector<bool> m_ahead;
    const int m_level;
    const std::string* m_password;
    const std::size_t m_budget;

    std::mutex m_mutex;
    std::condition_variable m_workerWake;
    std::condition_variable m_writerWake;
    std::vector<std::unique_ptr<EncodedEntry>> m_done;
    std::size_t m_next = 0;     // next entry a worker claims
    std::size_t m_writerAt = 0; // entry the writer is at
    std::size_t m_held = 0;     // bytes of results and reservations
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
