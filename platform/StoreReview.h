#pragma once

// The system's review prompt. Linux has no such facility: a request is
// recorded and logged, and nothing is shown. Main thread only.
class StoreReview final {
public:
    static void requestReview();
    // Requests made by this process.
    static int requestCount();
};
