#pragma once

#include <QString>
#include <functional>

namespace Cli {

// Runs one engine job to its end and turns the outcome into an exit status:
// queues `start` on the main thread, draws the job's progress (extraction or
// compression, matched by `jobKey`) on a terminal, and returns when the
// engine posts "Zavrin.JobDidEnd" for `jobKey`: 0 when it succeeded, 1
// otherwise, after printing the reason the engine gave. Needs the QCoreApplication; call on the main thread.
int runJob(const std::function<void()>& start, const QString& jobKey);

} // namespace Cli
