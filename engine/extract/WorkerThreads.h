#pragma once

#include <QLoggingCategory>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace WorkerThreads {

// Runs `work` on `count` threads, the calling one among them, and returns
// when all are done. A thread the system refuses is logged to `log` and
// its share left to the others.
template <typename Work> void run(std::size_t count, const Work& work, const QLoggingCategory& (*log)())
{
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < count; ++i) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error& error) {
            qCWarning(log, "extracting on fewer threads: %s", error.what());
            break;
        }
    }
    work();
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace WorkerThreads
