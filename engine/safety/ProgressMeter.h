#pragma once

#include "engine/ExtractProgress.h"

#include <QtGlobal>
#include <atomic>
#include <mutex>

// A job's progress as a growing fraction, from work counted on any thread:
// bytes written plus a share per entry, against the total the reader
// expects; or a fraction a library reports itself. Values go to the job's
// callback one at a time, only ever growing and below 1 until finish().
// Counting is cheap; a thread that finds the callback busy leaves the
// report to the next one.
class ProgressMeter final {
public:
    // Each entry weighs as much as this many bytes, so that archives of many
    // small entries move too.
    static constexpr qint64 kEntryUnits = 16 * 1024;

    void setCallback(ExtractProgress callback) { m_callback = std::move(callback); }
    // The work to expect: `bytes` of content in `entries` entries.
    void expect(qint64 bytes, qint64 entries);
    void addBytes(qint64 bytes) { add(bytes); }
    void entryDone() { add(kEntryUnits); }
    // For readers whose library reports a fraction itself.
    void reportFraction(double fraction);
    // Reports 0, so that a job tells it started before the first entry.
    void start() { reportFraction(0.0); }
    // Reports 1: the job succeeded.
    void finish();

private:
    void add(qint64 units);
    void report(double fraction, bool wait);

    ExtractProgress m_callback;
    std::atomic<qint64> m_done = 0;
    std::atomic<qint64> m_total = 0;
    std::mutex m_lock;
    double m_reported = -1.0; // under m_lock
};
