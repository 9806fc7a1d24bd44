#pragma once

#include <functional>

// The main thread's queue. Blocks run on the main thread, in the order they
// were queued. Needs a QCoreApplication; callable from any thread.
class MainQueue final {
public:
    using Block = std::function<void()>;

    // Queues `block`; also when called on the main thread, the caller returns first.
    static void async(Block block);
    // Runs `block` on the main thread after `seconds`.
    static void after(double seconds, Block block);
    // Runs `block` on the main thread and waits for it; runs it at once when
    // already there. Never call it from a block the main thread waits on.
    static void sync(const Block& block);
    static bool isMainThread();
};

// The worker pool on which jobs do their heavy work, one block per job.
class WorkerPool final {
public:
    static void async(std::function<void()> block);
    // Waits until every queued block has finished; for tests and shutdown.
    static bool waitForDone(int msecs = -1);
};
