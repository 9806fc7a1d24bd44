#include "platform/Folders.h"

#include <cerrno>
#include <cstdio>
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

namespace {

// Folders further down than this are moved up to the top of the tree being
// removed and emptied from there, so that removing a tree of any depth
// keeps at most this many folders open.
constexpr int kMaxDepth = 32;

// Opens the folder `name` in `parentFd` for removing what it holds; a folder
// whose mode shuts it (an archive may have made it read-only) is opened up.
int openForRemoval(int parentFd, const char* name)
{
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st { };
    if (fd >= 0 && ::fstat(fd, &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU)
        ::fchmod(fd, S_IRWXU);
    return fd;
}

// Names for folders moved up, and how many went up.
struct Moves final {
    unsigned names = 0;
    unsigned done = 0;
};

bool moveUp(int parentFd, const char* name, int topFd, Moves* moves)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        char upper[32];
        std::snprintf(upper, sizeof upper, ".deep-%u", moves->names++);
        int moved = ::renameat2(parentFd, name, topFd, upper, RENAME_NOREPLACE);
        // File systems without the flag: the name was free a moment ago.
        struct stat st { };
        if (moved != 0 && errno == EINVAL && ::fstatat(topFd, upper, &st, AT_SYMLINK_NOFOLLOW) != 0)
            moved = ::renameat(parentFd, name, topFd, upper);
        if (moved == 0) {
            ++moves->done;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Removes everything in the open folder `fd`, `depth` levels below the top
// `topFd`; folders too deep go up to the top instead.
bool removeContents(int fd, int topFd, int depth, Moves* moves)
{
    const std::optional<std::vector<Entry>> entries = list(fd);
    bool ok = entries.has_value();
    for (const Entry& entry : entries.value_or(std::vector<Entry> {})) {
        const char* name = entry.name.constData();
        if (entry.type != DT_DIR) {
            ok = ::unlinkat(fd, name, 0) == 0 && ok;
        } else if (depth >= kMaxDepth) {
            ok = moveUp(fd, name, topFd, moves) && ok;
        } else {
            const int child = openForRemoval(fd, name);
            const bool emptied = child >= 0 && removeContents(child, topFd, depth + 1, moves);
            const int error = errno;
            if (child >= 0)
                ::close(child);
            errno = error;
            ok = emptied && ::unlinkat(fd, name, AT_REMOVEDIR) == 0 && ok;
        }
    }
    return ok;
}

} // namespace

bool removeTree(int parentFd, const char* name)
{
    struct stat st { };
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parentFd, name, 0) == 0;
    const int top = openForRemoval(parentFd, name);
    if (top < 0)
        return false;
    // Each pass empties the top; what went up meanwhile waits for the next.
    bool ok = false;
    Moves moves;
    for (unsigned before = ~0u; before != moves.done;) {
        before = moves.done;
        ok = removeContents(top, top, 1, &moves);
    }
    const int error = errno;
    ::close(top);
    errno = error;
    return ok && ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}

} // namespace Folders
