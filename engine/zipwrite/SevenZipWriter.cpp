#include "engine/zipwrite/SevenZipWriter.h"

#include "ArchivePlacement.h"
#include "WriteProgress.h"
#include "platform/Folders.h"
#include "platform/Logging.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

constexpr char kArchiveName[] = "archive.7z";

QString program()
{
    const QString configured = qEnvironmentVariable("ZAVRIN_7ZZ");
    if (!configured.isEmpty())
        return configured;
    const QString found = QStandardPaths::findExecutable(QStringLiteral("7zz"));
    return found.isEmpty() ? QStringLiteral("7zz") : found;
}

// The items as the program is to find them: each by its real path, whose
// last component then names it in the archive. Nothing on the way is a
// link (the program, storing links as links, would refuse to go through
// one), and every path starts with "/", never with a switch's "-". A
// chosen link whose target has another name is renamed afterwards:
// `renames` gets the target's name and the link's, in pairs.
Outcome realPaths(const std::vector<ZipItem>& items, QStringList* paths, QStringList* renames)
{
    std::set<std::string> chosen;
    std::set<std::string> found;
    for (const ZipItem& item : items)
        chosen.insert(item.name);
    for (const ZipItem& item : items) {
        char resolved[PATH_MAX];
        if (!::realpath(item.path.c_str(), resolved))
            return { .status = Outcome::Status::Failed,
                .message = QString::fromStdString("cannot read " + item.path + ": " + std::strerror(errno)) };
        const std::string real(resolved);
        const std::string name = real.substr(real.find_last_of('/') + 1);
        // Two items under one name would merge, and a rename onto a name
        // still in use would merge them too.
        if (name.empty() || !found.insert(name).second || (name != item.name && chosen.count(name) > 0))
            return { .status = Outcome::Status::Unsupported,
                .message = QString::fromStdString(item.path + ": points to " + real
                    + ", whose name another item has; a 7z archive cannot hold both") };
        if (name != item.name)
            *renames << QFile::decodeName(QByteArray::fromStdString(name))
                     << QFile::decodeName(QByteArray::fromStdString(item.name));
        paths->append(QFile::decodeName(resolved));
    }
    return {};
}

// The highest "NN%" the program has shown on its progress line.
int lastPercent(const QByteArray& output, int known)
{
    for (qsizetype at = output.indexOf('%'); at >= 0; at = output.indexOf('%', at + 1)) {
        qsizetype start = at;
        while (start > 0 && output[start - 1] >= '0' && output[start - 1] <= '9' && at - start < 3)
            --start;
        if (start < at)
            known = std::max(known, output.mid(start, at - start).toInt());
    }
    return std::min(known, 100);
}

// Runs the program in `folder` with `input` on its standard input; Done
// when it succeeded.
Outcome run(const QStringList& arguments, const QString& folder, const QByteArray& input,
    const SevenZipWriter::Options& options, WriteProgress& progress)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    // Runs in the child between fork and exec: async-signal-safe calls
    // only. The program gets the signals this process may have blocked
    // (the command-line front end waits for them on a thread of its own).
    process.setChildProcessModifier([] {
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
    });
    process.start(program(), arguments);
    if (!process.waitForStarted(-1))
        return { .status = Outcome::Status::Failed, .message = QStringLiteral("7zz: ") + process.errorString() };
    process.write(input);
    process.closeWriteChannel();
    int percent = 0;
    while (process.state() != QProcess::NotRunning) {
        if (options.stop.requested()) {
            process.kill();
            process.waitForFinished(-1);
            return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
        }
        process.waitForReadyRead(100);
        percent = lastPercent(process.readAllStandardOutput(), percent);
        progress.fractionDone(percent / 100.0);
    }
    process.waitForFinished(-1);
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {};
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).simplified();
    return { .status = Outcome::Status::Failed,
        .message = QStringLiteral("7zz exited with status %1: %2").arg(process.exitCode()).arg(said) };
}

// The program's archive, complete: synced, then renamed into place.
Outcome place(const std::string& written, const std::string& path)
{
    const int fd = ::open(written.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ArchivePlacement::sync(fd);
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        return { .status = errno == ENOSPC ? Outcome::Status::NoSpace : Outcome::Status::Failed,
            .message = QString::fromStdString(path + ": " + std::strerror(errno)) };
    return ArchivePlacement::place(written, path, false);
}

} // namespace

Outcome SevenZipWriter::write(const std::string& path, const std::vector<ZipItem>& items,
    const std::vector<ZipEntry>& entries, const Options& options, const ZipWriter::ProgressHandler& progressHandler)
{
    if (items.empty() || entries.empty())
        return { .status = Outcome::Status::NothingToPack,
            .message = QString::fromStdString("nothing to pack for " + path) };
    QStringList paths;
    QStringList renames;
    if (Outcome resolved = realPaths(items, &paths, &renames); !resolved.ok())
        return resolved;

    std::string folder;
    if (Outcome made = ArchivePlacement::createFolder(path, &folder); !made.ok())
        return made;
    const std::string folderName = folder.substr(folder.find_last_of('/') + 1);
    // -snl stores links as links; -spd takes every name literally; -sse
    // fails on a file that cannot be read instead of leaving it out; the
    // hidden folder is left out should it lie among the items.
    QStringList arguments { QStringLiteral("a"), QStringLiteral("-t7z"), QStringLiteral("-mx=%1").arg(options.level),
        QStringLiteral("-snl"), QStringLiteral("-spd"), QStringLiteral("-sae"), QStringLiteral("-sse"),
        QStringLiteral("-ssp"), QStringLiteral("-bso0"), QStringLiteral("-bse2"), QStringLiteral("-bsp1"),
        QStringLiteral("-xr!") + QFile::decodeName(QByteArray::fromStdString(folderName)) };
    // The names too are encrypted. Renaming opens the archive and then
    // writes it again: the program asks twice.
    QStringList encryption;
    const QByteArray password = options.password ? options.password->toUtf8() + '\n' : QByteArray();
    if (options.password)
        encryption << QStringLiteral("-p") << QStringLiteral("-mhe=on");
    const QStringList archive { QStringLiteral("--"), QString::fromLatin1(kArchiveName) };

    WriteProgress progress(progressHandler, entries);
    progress.start();
    const QString workingFolder = QFile::decodeName(QByteArray::fromStdString(folder));
    Outcome result = run(arguments + encryption + archive + paths, workingFolder, password, options, progress);
    if (result.ok() && !renames.isEmpty()) {
        const QStringList rename { QStringLiteral("rn"), QStringLiteral("-spd"), QStringLiteral("-bso0"),
            QStringLiteral("-bse2"), QStringLiteral("-bsp0") };
        result = run(rename + encryption + archive + renames, workingFolder, password + password, options, progress);
    }
    if (result.ok())
        result = place(folder + '/' + kArchiveName, path);
    if (!result.ok() && result.status != Outcome::Status::Cancelled)
        qCWarning(lcEngineZip, "7z writer: %s", qUtf8Printable(result.message));
    // Whatever the program left (its archive when it failed, its own temporaries).
    if (!Folders::removeTree(AT_FDCWD, folder.c_str()))
        qCWarning(lcEngineZip, "7z writer: cannot remove %s: %s", folder.c_str(), std::strerror(errno));
    if (result.ok())
        progress.finish();
    return result;
}
