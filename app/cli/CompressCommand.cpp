#include "app/cli/CompressCommand.h"

#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "app/cli/JobRunner.h"
#include "engine/ZipManager.h"
#include "engine/zipwrite/ArchiveWriter.h"
#include "platform/Interrupts.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The first line of standard input. Asked for encryption, an archive
// without it would be worse than none: an empty line or no input at all
// (an unset variable piped in) is a usage error, as is a line that cannot
// be a password.
Outcome passwordFromStdin(QString* password)
{
    const Outcome read = Cli::readPassword(STDIN_FILENO, password);
    if (read.status == Outcome::Status::Cancelled)
        return { .status = Outcome::Status::Usage,
            .message = QStringLiteral("--password-stdin: no password on standard input") };
    if (read.ok() && password->isEmpty())
        return { .status = Outcome::Status::Usage,
            .message = QStringLiteral("--password-stdin: the password on standard input is empty") };
    return read;
}

// Whether a file can really be made in the folder of `archive`: permission
// bits say little for root or on read-only mounts. The reason when not.
Outcome canCreateBeside(const QByteArray& archive)
{
    const qsizetype slash = archive.lastIndexOf('/');
    QByteArray probe = (slash <= 0 ? QByteArray(slash == 0 ? "" : ".") : archive.left(slash)) + "/.zavrin-probe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return { .status = Outcome::Status::Failed, .message = QString::fromLocal8Bit(std::strerror(errno)) };
    ::close(fd);
    ::unlink(probe.constData());
    return {};
}

} // namespace

namespace Cli {

int runCompress(const CommandLine& line)
{
    QList<FileModel> files;
    for (const QString& item : line.items) {
        struct stat st { };
        if (::lstat(QFile::encodeName(item).constData(), &st) != 0)
            return usageError(QStringLiteral("no such item: ") + item);
        files.append(FileModel(QFileInfo(item).absoluteFilePath()));
    }
    const QString archive = QFileInfo(line.archive).absoluteFilePath();
    if (line.passwordFromStdin && CompressionOptions::isTar(line.format))
        return usageError(CompressionOptions::formatName(line.format)
            + QStringLiteral(" archives cannot be encrypted; choose zip or 7z for a password"));
    std::optional<QString> password;
    if (line.passwordFromStdin) {
        QString text;
        const Outcome read = passwordFromStdin(&text);
        if (Interrupts::received())
            return 1;
        if (!read.ok())
            return usageError(read.message);
        password = text;
    }

    // Told before any work. The engine never replaces a file either: one
    // that appears there meanwhile is kept and the job fails.
    const QByteArray name = QFile::encodeName(archive);
    struct stat st { };
    if (::lstat(name.constData(), &st) == 0)
        return usageError(archive + QStringLiteral(" already exists; it is never replaced"));
    if (const Outcome writable = canCreateBeside(name); !writable.ok())
        return usageError(QStringLiteral("cannot create ") + archive + QStringLiteral(": ") + writable.message);

    CompressionOptions options;
    options.format = line.format;
    options.mode = line.level < 2 ? CompressionOptions::Mode::Fastest : CompressionOptions::Mode::Maximum;
    options.password = password;
    if (const Outcome refused = ArchiveWriter::check(options); !refused.ok())
        return usageError(refused.message);
    return report(
        runJob([archive, files, options] { ZipManager::shared().compressFiles(archive, files, options); }, archive));
}

} // namespace Cli
