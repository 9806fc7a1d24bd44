#pragma once

#include "platform/Outcome.h"

#include <QString>

// Why a job ended, in words for the user: one table from the engine's
// statuses to localised texts, shared by the window and the command line.
// Safe from any thread (the lookups are Bundle's).
namespace JobReasons {

// The string-table key that tells `status`; empty for Done, which needs no
// reason.
QString key(Outcome::Status status);
// The localised reason for `status`, prefixed with `subject` (an archive's
// or item's file name) when there is one: "a.zip: Not a valid archive".
// Empty for Done.
QString text(Outcome::Status status, const QString& subject);
// The same for a status name as "Zavrin.JobDidEnd" carries it; empty for a
// name no table knows (no reason known) and for "Done".
QString text(const QString& statusName, const QString& subject);

// How many existing files a job kept instead of overwriting, as a line for
// the user; `written` entries were placed. Empty when nothing was kept.
QString keptText(int kept, int written);

} // namespace JobReasons
