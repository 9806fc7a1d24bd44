#pragma once

#include <QString>

// A folder of the archive's own inside the destination, for a job asked to
// keep the destination tidy. Worker thread.
namespace OwnFolder {

// A free folder inside `toPath` named after the archive: "name", else
// "name (2)", "name (3)", …; not made yet (the job makes it).
QString choose(const QString& toPath, const QString& archive);
// After a job into `folder`: a single item moves up into `toPath` when
// nothing there has its name, and the folder goes. The folder that holds
// the files then.
QString tidy(const QString& toPath, const QString& folder);

} // namespace OwnFolder
