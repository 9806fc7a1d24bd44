#pragma once

#include <atomic>
#include <memory>

// A job's stop request. Each job makes its own token and hands copies to
// whatever works for it; request() stops that job alone. stopAll()
// (quitting the program, a signal to the command line) stops every job,
// and every job started afterwards ends at once. A job looks at its token
// between entries and while a long entry runs, removes what it has not
// completed and ends as cancelled. Copies share one request; any thread.
class StopToken final {
public:
    StopToken()
        : m_requested(std::make_shared<std::atomic<bool>>(false))
    {
    }

    bool requested() const
    {
        return m_requested->load(std::memory_order_relaxed) || s_all.load(std::memory_order_relaxed);
    }
    void request() const { m_requested->store(true, std::memory_order_relaxed); }
    // True when both are copies of one token.
    bool sameAs(const StopToken& other) const { return m_requested == other.m_requested; }

    static void stopAll() { s_all.store(true, std::memory_order_relaxed); }
    static bool allStopped() { return s_all.load(std::memory_order_relaxed); }
    // Lets jobs run again after stopAll(); for tests that stop jobs and go on.
    static void resumeForTesting() { s_all.store(false, std::memory_order_relaxed); }

private:
    std::shared_ptr<std::atomic<bool>> m_requested;
    static inline std::atomic<bool> s_all = false;
};
