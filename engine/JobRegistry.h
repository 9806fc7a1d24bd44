#pragma once

#include "engine/StopToken.h"

#include <QString>

// The stop tokens of the jobs that run, by job key, so that one job can be
// stopped without the others. Any thread.
class JobRegistry final {
public:
    // A new token for a job with `key`, registered until end().
    static StopToken begin(const QString& key);
    static void end(const QString& key, const StopToken& token);
    // Asks every running job with `key` to stop; false when none runs.
    static bool stop(const QString& key);
    static int running();
};
