#include "engine/safety/ProgressMeter.h"

#include <algorithm>

namespace {
// Until the job ends, progress stays below 1: the final 1 means success.
constexpr double kBelowEnd = 0.9999;
} // namespace

void ProgressMeter::expect(qint64 bytes, qint64 entries)
{
    m_total = std::max<qint64>(0, bytes) + entries * kEntryUnits;
}

void ProgressMeter::add(qint64 units)
{
    const qint64 done = m_done.fetch_add(units, std::memory_order_relaxed) + units;
    const qint64 total = m_total.load(std::memory_order_relaxed);
    if (m_callback && total > 0)
        report(std::min(kBelowEnd, static_cast<double>(done) / static_cast<double>(total)), false);
}

void ProgressMeter::reportFraction(double fraction)
{
    if (m_callback)
        report(std::clamp(fraction, 0.0, kBelowEnd), true);
}

void ProgressMeter::finish()
{
    if (m_callback)
        report(1.0, true);
}

void ProgressMeter::report(double fraction, bool wait)
{
    std::unique_lock lock(m_lock, std::defer_lock);
    if (wait)
        lock.lock();
    else if (!lock.try_lock())
        return;
    if (fraction > m_reported) {
        m_reported = fraction;
        m_callback(fraction);
    }
}
