#include "app/cli/CompressCommand.h"

#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "app/cli/JobRunner.h"
#include "engine/ZipManager.h"
#include "platform/Interrupts.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

    // Claim the name with a file of our own first, so that nothing that
    // appears there meanwhile is replaced; the engine puts the complete
    // archive over it, and a failed or interrupted job leaves it to us to
    // remove.
    const QByteArray name = QFile::encodeName(archive);
    const int claim = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (claim < 0 && errno == EEXIST)
        return usageError(archive + QStringLiteral(" already exists; it is never replaced"));
    if (claim < 0)
        return usageError(QStringLiteral("cannot create ") + archive + QStringLiteral(": ")
            + QString::fromLocal8Bit(std::strerror(errno)));
    struct stat claimed { };
    ::fstat(claim, &claimed);
    ::close(claim);

    const bool needSpeed = line.level < 2;
    const int status
        = runJob([archive, files, password,
                     needSpeed] { ZipManager::shared().zipFileAtPath(archive, files, password, needSpeed); },
            archive);
    struct stat now { };
    if (status != 0 && ::lstat(name.constData(), &now) == 0 && now.st_ino == claimed.st_ino
        && now.st_dev == claimed.st_dev && now.st_size == 0)
        ::unlink(name.constData());
    return status;
}

} // namespace Cli
