#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace Cli {

// How a job ended, as "Zavrin.JobDidEnd" told it.
struct JobEnd final {
    bool succeeded = false;
    QString status; // an Outcome status name
    QString subject;
    QString reason; // the engine's own words, for the log
    int kept = 0;
    int written = 0;
    QStringList keptNames;
};

// Runs one engine job to its end: queues `start` on the main thread, draws
// the job's progress (extraction or compression, matched by `jobKey`) on a
// terminal, and returns what the engine posted with "Zavrin.JobDidEnd" for
// `jobKey`. Needs the QCoreApplication; call on the main thread.
JobEnd runJob(const std::function<void()>& start, const QString& jobKey);

// Tells how the job ended on standard error (the reason of a failure in the
// user's language with the engine's words after it; the existing files a
// success kept, by name with `verbose`) and gives the exit status: 0 for a
// success, 1 otherwise.
int report(const JobEnd& end, bool verbose = false);

} // namespace Cli
