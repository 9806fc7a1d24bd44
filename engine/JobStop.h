#pragma once

#include <atomic>

// Stop requests for the engine's jobs. Quitting the program or a signal to
// the command-line front end asks every job to stop; each job looks at the
// request between entries and while a long entry runs, removes what it has
// not completed and ends as cancelled. Jobs started after the request end
// at once. Any thread.
class JobStop final {
public:
    static void stopAll() { s_requested.store(true, std::memory_order_relaxed); }
    static bool requested() { return s_requested.load(std::memory_order_relaxed); }
    // Lets jobs run again; for tests that stop jobs and go on.
    static void resumeForTesting() { s_requested.store(false, std::memory_order_relaxed); }

private:
    static inline std::atomic<bool> s_requested = false;
};
