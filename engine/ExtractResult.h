#pragma once

#include <QString>

#include <functional>

// How an archive back-end's extraction ended. `ok` is false when any entry
// could not be extracted or the archive was refused; entries completed before
// stay, and a failed entry leaves nothing behind. Entries skipped because
// something already stood at their place do not count as failures.
struct ExtractResult {
    bool ok = false;
    bool wrongPassword = false; // the failure came from a wrong password
    QString message;            // for the log
};

// Progress of an extraction as a fraction from 0 to 1, called on the
// extracting thread. Back-ends call it often; callers thin it out.
using ExtractProgress = std::function<void(double fraction)>;
