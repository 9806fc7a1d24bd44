#include "ArchivePlacement.h"

#include "platform/Logging.h"

#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ArchivePlacement {

namespace {

Outcome failure(const std::string& what, int error)
{
    const Outcome::Status status = error == ENOSPC || error == EDQUOT ? Outcome::Status::NoSpace
        : error == EACCES || error == EPERM || error == EROFS         ? Outcome::Status::NoPermission
        : error == EEXIST                                             ? Outcome::Status::NameTaken
                                                                      : Outcome::Status::Failed;
    return { .status = status, .message = QString::fromStdString(what + ": " + std::strerror(error)) };
}

// A hidden name beside `destination` that nothing is likely to hold:
// ".<name>.<random>.part", the name cut so that it still fits a file
// system's limit.
std::string hiddenName(const std::string& destination)
{
    const std::size_t slash = destination.find_last_of('/');
    const std::string name = destination.substr(slash == std::string::npos ? 0 : slash + 1, 200);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", QRandomGenerator::global()->generate());
    return folderOf(destination) + "/." + name + '.' + suffix + ".part";
}

// renameat2 with RENAME_NOREPLACE; where the file system lacks it, a hard
// link (which fails on an existing name too) and then the old name's
// removal. A folder cannot be linked: there the name is checked just
// before the rename.
int renameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return -1;
    struct stat st { };
    if (::lstat(from.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (::lstat(to.c_str(), &st) == 0) {
            errno = EEXIST;
            return -1;
        }
        return ::rename(from.c_str(), to.c_str());
    }
    if (::link(from.c_str(), to.c_str()) != 0)
        return -1;
    ::unlink(from.c_str());
    return 0;
}

} // namespace

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

Outcome createFile(const std::string& destination, int* fd, std::string* temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = hiddenName(destination);
        // 0666 so that the archive gets the same permissions as any new file (umask applies).
        *fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (*fd >= 0) {
            *temporary = std::move(path);
            return {};
        }
        if (errno != EEXIST)
            break;
    }
    return failure(folderOf(destination), errno);
}

Outcome createFolder(const std::string& destination, std::string* temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        // A name of our own, free of anything a program might read as a pattern.
        std::string path = hiddenName(folderOf(destination) + "/zavrin");
        if (::mkdir(path.c_str(), 0700) == 0) {
            *temporary = std::move(path);
            return {};
        }
        if (errno != EEXIST)
            break;
    }
    return failure(folderOf(destination), errno);
}

bool sync(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno == EINVAL || errno == EROFS)
            return true;
        if (errno != EINTR)
            return false;
    }
    return true;
}

Outcome place(const std::string& temporary, const std::string& destination, bool replace)
{
    const int renamed
        = replace ? ::rename(temporary.c_str(), destination.c_str()) : renameWithoutReplacing(temporary, destination);
    if (renamed != 0) {
        if (errno == EEXIST)
            return { .status = Outcome::Status::NameTaken,
                .message = QString::fromStdString(destination + ": already exists; it is never replaced") };
        return failure(destination, errno);
    }
    // The new name itself lives in the folder. The archive is complete and
    // in place by now, so a folder that cannot be synced is only logged.
    const int folder = ::open(folderOf(destination).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || !sync(folder))
        qCWarning(lcEngineZip, "cannot sync the folder of %s: %s", destination.c_str(), std::strerror(errno));
    if (folder >= 0)
        ::close(folder);
    return {};
}

} // namespace ArchivePlacement
