#pragma once

#include "engine/zipwrite/ZipEntryList.h"

#include <cstdint>
#include <functional>
#include <vector>

// A writer's progress: the content bytes written and the entries written,
// each entry counting for a fixed share besides its bytes (about what its
// headers and opening its file cost), so that many small files move it as
// well as one large file. Reports only forward, and the end only through
// finish(), once the archive is complete at its place. One thread.
class WriteProgress final {
public:
    // Work done so far and the total.
    using Handler = std::function<void(std::uint64_t done, std::uint64_t total)>;

    WriteProgress(Handler handler, const std::vector<ZipEntry>& entries);

    void start() { m_handler(0, m_total); }
    void finish() { m_handler(m_total, m_total); }
    // `entries` whole entries are written (what the writer knows of them).
    void entriesWritten(std::uint64_t entries);
    // `bytes` more content bytes are written.
    void bytesWritten(std::uint64_t bytes);
    // A fraction (0 to 1) of all the work is done, for writers that only know that.
    void fractionDone(double fraction);

    // What an entry counts for besides its content bytes.
    static constexpr std::uint64_t kEntryShare = 8 * 1024;

private:
    void report(std::uint64_t done);

    Handler m_handler;
    std::uint64_t m_total = 0;
    std::uint64_t m_entriesDone = 0;
    std::uint64_t m_bytesDone = 0;
    std::uint64_t m_reported = 0;
};
