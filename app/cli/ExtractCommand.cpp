#include "app/cli/ExtractCommand.h"

#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "app/cli/JobRunner.h"
#include "engine/ZipManager.h"
#include "platform/Interrupts.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// Writable means a file can really be made there: permission bits say
// little for root or on read-only mounts.
bool canWriteIn(const QString& folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".zavrin-probe-XXXXXX")));
    return probe.open();
}

} // namespace

namespace Cli {

int runExtract(const CommandLine& line)
{
    const QFileInfo archive(line.archive);
    if (!archive.isFile())
        return usageError(QStringLiteral("no such archive: ") + line.archive);
    const QString folder
        = QFileInfo(line.outputFolder.isEmpty() ? QDir::currentPath() : line.outputFolder).absoluteFilePath();
    const bool made = !QFileInfo::exists(folder) && QDir().mkpath(folder);
    if (!canWriteIn(folder))
        return usageError(QStringLiteral("cannot write to the folder ") + folder);

    const QString archivePath = archive.absoluteFilePath();
    const int status
        = runJob([archivePath, folder] { ZipManager::shared().unzipFileAtPath(archivePath, folder); }, archivePath);
    // An interrupted run takes back the folder it made, when still empty.
    if (made && Interrupts::received())
        QDir().rmdir(folder);
    return status;
}

} // namespace Cli
