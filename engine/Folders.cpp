#include "engine/Folders.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Folders {

std::optional<std::vector<Entry>> list(int dirFd)
{
    // fdopendir takes the descriptor over. A descriptor of its own (not a
    // duplicate, which would share the position) keeps listings apart.
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        errno = error;
        return std::nullopt;
    }
    std::vector<Entry> entries;
    errno = 0;
    while (const dirent* item = ::readdir(dir)) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0)
            continue;
        Entry entry { QByteArray(item->d_name), item->d_type };
        // Some file systems leave the type to a stat of its own.
        struct stat st { };
        if (entry.type == DT_UNKNOWN && ::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            entry.type = static_cast<unsigned char>(IFTODT(st.st_mode));
        entries.push_back(std::move(entry));
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    return entries;
}

bool removeTree(int parentFd, const char* name)
{
    struct stat st { };
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parentFd, name, 0) == 0;
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    // An archive may have made the folder read-only; its entries could not go.
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmod(fd, S_IRWXU);
    const std::optional<std::vector<Entry>> entries = list(fd);
    bool ok = entries.has_value();
    for (const Entry& entry : entries.value_or(std::vector<Entry> {}))
        ok = removeTree(fd, entry.name.constData()) && ok;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok && ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}

} // namespace Folders
