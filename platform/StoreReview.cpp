#include "platform/StoreReview.h"

#include "platform/Logging.h"

#include <atomic>

namespace {
std::atomic<int> g_requests { 0 };
}

void StoreReview::requestReview()
{
    ++g_requests;
    qCInfo(lcPlatform) << "review prompt requested";
}

int StoreReview::requestCount()
{
    return g_requests;
}
