#include "app/cli/ExtractCommand.h"

#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "app/cli/JobRunner.h"
#include "app/cli/ListCommand.h"
#include "engine/ArchiveListing.h"
#include "engine/ZipManager.h"
#include "platform/Interrupts.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstdio>

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

// An entry's path as the user names it: no leading "./" or "/", no
// trailing "/".
QString plainName(QString name)
{
    while (name.startsWith(u"./"))
        name.remove(0, 2);
    while (name.startsWith(u'/'))
        name.remove(0, 1);
    while (name.endsWith(u'/'))
        name.chop(1);
    return name;
}

// The listing's entries that `names` ask for (each name, or a folder with
// all below it). Usage naming the first name nothing matches.
Outcome select(const ArchiveListing& listing, const QStringList& names, std::vector<bool>* selection)
{
    selection->assign(static_cast<std::size_t>(listing.size()), false);
    std::vector<bool> matched(static_cast<std::size_t>(names.size()), false);
    QStringList wanted;
    for (const QString& name : names)
        wanted.append(plainName(name));
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const QString path = plainName(listing.path(i));
        for (qsizetype k = 0; k < wanted.size(); ++k) {
            const QString& name = wanted.at(k);
            if (path == name || (path.startsWith(name) && path.at(name.size()) == u'/')) {
                (*selection)[static_cast<std::size_t>(i)] = true;
                matched[static_cast<std::size_t>(k)] = true;
            }
        }
    }
    for (qsizetype k = 0; k < names.size(); ++k) {
        if (!matched[static_cast<std::size_t>(k)])
            return { .status = Outcome::Status::Usage, .message = QStringLiteral("no entry named ") + names.at(k) };
    }
    return {};
}

} // namespace

namespace Cli {

int runExtract(const CommandLine& line)
{
    const QFileInfo archive(line.archive);
    if (!archive.isFile())
        return usageError(QStringLiteral("no such archive: ") + line.archive);
    const QString archivePath = archive.absoluteFilePath();
    ExtractOptions options;
    options.ownFolder = line.smart;
    if (!line.entries.isEmpty()) {
        std::shared_ptr<const ArchiveListing> listing;
        const Outcome listed = listArchive(archivePath, &listing);
        if (listed.status == Outcome::Status::Usage)
            return usageError(QStringLiteral("not an archive of a format Zavrin reads: ") + line.archive);
        if (!listed.ok()) {
            std::fprintf(stderr, "zavrin-cli: %s\n", qUtf8Printable(listed.message));
            return 1;
        }
        std::vector<bool> selection;
        if (const Outcome chosen = select(*listing, line.entries, &selection); !chosen.ok())
            return usageError(chosen.message);
        options.selection = std::move(selection);
        // A password that opened the names opens the data too: it is not asked twice.
        options.password = listing->password;
    }

    const QString folder
        = QFileInfo(line.outputFolder.isEmpty() ? QDir::currentPath() : line.outputFolder).absoluteFilePath();
    const bool made = !QFileInfo::exists(folder) && QDir().mkpath(folder);
    if (!canWriteIn(folder))
        return usageError(QStringLiteral("cannot write to the folder ") + folder);

    const bool plain = !options.selection && !options.ownFolder && !options.password;
    const JobEnd end = runJob(
        [archivePath, folder, options, plain] {
            if (plain)
                ZipManager::shared().unzipFileAtPath(archivePath, folder);
            else
                ZipManager::shared().extract(archivePath, folder, options);
        },
        archivePath);
    // A run that failed or was interrupted takes back the folder it made,
    // when still empty.
    if (made && !end.succeeded)
        QDir().rmdir(folder);
    return report(end, line.verbose);
}

} // namespace Cli
