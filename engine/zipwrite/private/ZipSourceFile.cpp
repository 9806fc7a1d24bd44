#include "ZipSourceFile.h"

#include <QMutex>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QMutex g_hookMutex;
ZipSourceFile::ReadHook g_hook;
std::atomic<bool> g_hooked = false; // spares every read the lock

Outcome failure(const std::string& path, int error)
{
    const Outcome::Status status
        = error == EACCES || error == EPERM ? Outcome::Status::NoPermission : Outcome::Status::Failed;
    return { .status = status, .message = QString::fromStdString(path + ": " + std::strerror(error)) };
}

} // namespace

ZipSourceFile::ZipSourceFile(const ZipEntry& entry, int fd)
    : m_entry(entry)
    , m_fd(fd)
{
}

ZipSourceFile::~ZipSourceFile()
{
    ::close(m_fd);
}

void ZipSourceFile::setReadHookForTesting(ReadHook hook)
{
    const QMutexLocker lock(&g_hookMutex);
    g_hook = std::move(hook);
    g_hooked = static_cast<bool>(g_hook);
}

Outcome ZipSourceFile::open(const ZipEntry& entry, std::unique_ptr<ZipSourceFile>* file)
{
    // Inside the chosen items a link is stored as a link, so a regular file
    // that turned into a link since it was listed is not followed. Opening
    // without blocking keeps a file that turned into a pipe from hanging us.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (entry.followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(entry.sourcePath.c_str(), flags);
    if (fd < 0)
        return failure(entry.sourcePath, errno);
    std::unique_ptr<ZipSourceFile> opened(new ZipSourceFile(entry, fd));
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return { .status = Outcome::Status::Failed,
            .message = QString::fromStdString(entry.sourcePath + ": no longer a regular file") };
    if (st.st_dev != entry.device || st.st_ino != entry.inode || !opened->asListed())
        return opened->changed();
    *file = std::move(opened);
    return {};
}

Outcome ZipSourceFile::read(std::uint64_t offset, std::size_t length, char* into) const
{
    if (g_hooked.load(std::memory_order_relaxed)) {
        const QMutexLocker lock(&g_hookMutex);
        if (g_hook)
            g_hook(m_entry.sourcePath, offset);
    }
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(m_fd, into + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failure(m_entry.sourcePath, errno);
        if (n == 0)
            return changed();
        got += static_cast<std::size_t>(n);
    }
    // What was read counts only if the file did not change meanwhile.
    return asListed() ? Outcome() : changed();
}

bool ZipSourceFile::asListed() const
{
    struct stat st { };
    return ::fstat(m_fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == m_entry.size
        && st.st_mtim.tv_sec == m_entry.mtime && st.st_mtim.tv_nsec == m_entry.mtimeNanoseconds;
}

Outcome ZipSourceFile::changed() const
{
    return { .status = Outcome::Status::Changed,
        .message = QString::fromStdString(m_entry.sourcePath + ": file changed as we read it") };
}
