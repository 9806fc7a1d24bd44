#include "WriteProgress.h"

#include <algorithm>
#include <cmath>

WriteProgress::WriteProgress(Handler handler, const std::vector<ZipEntry>& entries)
    : m_handler(handler ? std::move(handler) : [](std::uint64_t, std::uint64_t) {})
    , m_total(entries.size() * kEntryShare)
{
    for (const ZipEntry& entry : entries)
        m_total += entry.size;
    m_total = std::max<std::uint64_t>(m_total, 1);
}

void WriteProgress::entriesWritten(std::uint64_t entries)
{
    m_entriesDone = std::max(m_entriesDone, entries);
    report(m_entriesDone * kEntryShare + m_bytesDone);
}

void WriteProgress::bytesWritten(std::uint64_t bytes)
{
    m_bytesDone += bytes;
    report(m_entriesDone * kEntryShare + m_bytesDone);
}

void WriteProgress::fractionDone(double fraction)
{
    report(static_cast<std::uint64_t>(std::clamp(fraction, 0.0, 1.0) * static_cast<double>(m_total)));
}

void WriteProgress::report(std::uint64_t done)
{
    done = std::min(done, m_total - 1);
    if (done <= m_reported)
        return;
    m_reported = done;
    m_handler(done, m_total);
}
