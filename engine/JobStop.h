#pragma once

#include "engine/StopToken.h"

// The process-wide stop of the compression side, until it carries a
// StopToken of its own job.
class JobStop final {
public:
    static void stopAll() { StopToken::stopAll(); }
    static bool requested() { return StopToken::allStopped(); }
    static void resumeForTesting() { StopToken::resumeForTesting(); }
};
