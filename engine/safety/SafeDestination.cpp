#include "engine/safety/SafeDestination.h"

#include "platform/FileNames.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Lossless for names read as bytes (FileNames), UTF-8 for all others.
QByteArray fsName(const QString& component)
{
    return FileNames::encode(component);
}

QString joined(const QStringList& path)
{
    return path.join(u'/');
}

// renameat2 with RENAME_NOREPLACE, falling back to link + unlink on file
// systems that do not support the flag. Both refuse to replace anything.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return -1;
    ::unlinkat(fromDir, from, 0);
    return 0;
}

std::atomic<bool> unnamedFilesOff = false;

// Whether files made with O_TMPFILE can be given a name: linkat reaches
// them through /proc (linking by descriptor alone needs a privilege).
bool canNameUnnamedFiles()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can && !unnamedFilesOff;
}

Outcome kept(const QStringList& path)
{
    qCInfo(lcEngine, "kept existing %s", qUtf8Printable(joined(path)));
    return { .status = Outcome::Status::Kept };
}

// A lookup that gave no descriptor but no reason either still failed.
Outcome orFailed(const Outcome& result, const QStringList& path)
{
    return result.ok()
        ? Outcome { .status = Outcome::Status::Failed, .message = QStringLiteral("cannot open ") + joined(path) }
        : result;
}

} // namespace

PendingFile::~PendingFile()
{
    discard();
}

bool PendingFile::write(const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
        m_endsInHole = false;
    }
    return true;
}

bool PendingFile::skip(qint64 bytes)
{
    if (bytes == 0)
        return true;
    if (bytes < 0) {
        errno = EINVAL;
        return false;
    }
    if (::lseek(m_fd, static_cast<off_t>(bytes), SEEK_CUR) < 0)
        return false;
    m_endsInHole = true;
    return true;
}

void PendingFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_dirFd >= 0 && !m_tempName.isEmpty())
        ::unlinkat(m_dirFd, m_tempName.constData(), 0);
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_fd = m_dirFd = -1;
    m_tempName.clear();
    m_unnamed = false;
    m_endsInHole = false;
}

SafeDestination::SafeDestination(const QString& folder, bool undoable)
    : m_undoable(undoable)
{
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    // The destination itself was chosen by the user and may be a link.
    m_rootFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_rootFd < 0) {
        m_openFailure = { .status = Outcome::Status::Failed,
            .message = QStringLiteral("cannot open the destination %1: %2")
                           .arg(folder, QString::fromLocal8Bit(std::strerror(errno))) };
        return;
    }
    const long nameMax = ::fpathconf(m_rootFd, _PC_NAME_MAX);
    if (nameMax > 0)
        m_nameMax = nameMax;
}

SafeDestination::~SafeDestination()
{
    closeCachedFolders();
    if (m_rootFd >= 0)
        ::close(m_rootFd);
}

std::optional<QStringList> SafeDestination::splitEntryName(const QString& name)
{
    // The system reads a name only up to a NUL: what follows would escape the checks.
    if (name.startsWith(u'/') || name.contains(QChar(u'\0')))
        return std::nullopt;
    QStringList components;
    for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"..")
            return std::nullopt;
        if (part != u".")
            components.append(part);
    }
    return components;
}

bool SafeDestination::linkStaysInside(const QStringList& linkPath, const QByteArray& target)
{
    // symlink(2) stops at a NUL, so "..\0x" would be checked as a name and
    // created as "..": refuse anything the system would read otherwise.
    if (target.isEmpty() || target.startsWith('/') || target.contains('\0') || linkPath.isEmpty())
        return false;
    // Leading ".." components climb real folders (no folder on the way is a
    // link), so counting them is exact. A ".." after a name could climb out
    // of a linked folder, so it is refused.
    qsizetype depth = linkPath.size() - 1;
    bool descended = false;
    for (const QByteArray& part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (descended || depth == 0)
                return false;
            --depth;
        } else {
            descended = true;
        }
    }
    return true;
}

mode_t SafeDestination::umaskValue()
{
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return static_cast<mode_t>(value & 0777);
                }
            }
        }
        return static_cast<mode_t>(022);
    }();
    return mask;
}

Outcome SafeDestination::failed(const QString& what, const QStringList& path, int error)
{
    const bool full = error == ENOSPC || error == EDQUOT;
    Outcome outcome { .status = full ? Outcome::Status::NoSpace : Outcome::Status::Failed,
        .message = QStringLiteral("%1 %2: %3").arg(what, joined(path), QString::fromLocal8Bit(std::strerror(error))) };
    qCWarning(lcEngine, "%s", qUtf8Printable(outcome.message));
    return outcome;
}

Outcome SafeDestination::blocked(const QString& why, const QStringList& path)
{
    Outcome outcome { .status = Outcome::Status::Blocked,
        .message = QStringLiteral("entry not extracted, %1: %2").arg(why, joined(path)) };
    qCWarning(lcEngine, "%s", qUtf8Printable(outcome.message));
    return outcome;
}

void SafeDestination::noteMade(const QStringList& path, bool folder)
{
    if (m_undoable)
        m_made.emplace_back(joined(path), folder);
}

Outcome SafeDestination::checkName(const QByteArray& name, const QStringList& path)
{
    if (name.size() > m_nameMax)
        return failed(QStringLiteral("name too long for the file system:"), path, ENAMETOOLONG);
    return {};
}

void SafeDestination::closeCachedFolders()
{
    for (int fd : std::as_const(m_folderFds))
        ::close(fd);
    m_folderFds.clear();
}

int SafeDestination::openFolder(const QStringList& path, bool create, Outcome* result)
{
    if (path.isEmpty())
        return m_rootFd;
    const QString key = joined(path);
    if (const auto it = m_folderFds.constFind(key); it != m_folderFds.constEnd())
        return it.value();

    QByteArray name;
    const int parent = openParent(path, create, &name, result);
    if (parent < 0)
        return -1;
    int fd = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdirat(parent, name.constData(), 0777) == 0) {
            m_createdFolders.insert(key);
            noteMade(path, true);
        } else if (errno != EEXIST)
            return *result = failed(QStringLiteral("cannot create the folder"), path, errno), -1;
        fd = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            *result = blocked(QStringLiteral("a link or a file stands in the way"), path);
        else
            *result = failed(QStringLiteral("cannot open the folder"), path, errno);
        return -1;
    }
    // Descriptors of recently used folders are kept; the whole cache is
    // dropped now and then so that huge archives stay within the fd limit.
    // Pending files hold copies of their own, so nothing in use is closed.
    if (m_folderFds.size() >= 128)
        closeCachedFolders();
    m_folderFds.insert(key, fd);
    return fd;
}

int SafeDestination::openParent(const QStringList& path, bool create, QByteArray* name, Outcome* result)
{
    if (path.isEmpty())
        return *result = blocked(QStringLiteral("empty name"), path), -1;
    const int parent = openFolder(path.mid(0, path.size() - 1), create, result);
    if (parent < 0)
        return -1;
    *name = fsName(path.last());
    if (!(*result = checkName(*name, path)).ok())
        return -1;
    return parent;
}

Outcome SafeDestination::makeDirectory(const QStringList& path, const EntryMeta& meta)
{
    if (path.isEmpty())
        return { .status = Outcome::Status::Kept };
    const std::lock_guard lock(m_mutex);
    Outcome result;
    QByteArray name;
    const int parent = openParent(path, true, &name, &result);
    if (parent < 0)
        return result;
    const QString key = joined(path);
    if (::mkdirat(parent, name.constData(), 0777) == 0) {
        m_createdFolders.insert(key);
        noteMade(path, true);
    } else if (errno != EEXIST) {
        return failed(QStringLiteral("cannot create the folder"), path, errno);
    } else if (!m_createdFolders.contains(key)) {
        return kept(path);
    }
    if (meta.mode || meta.mtime)
        m_folderMeta.emplace_back(path, meta);
    return {};
}

Outcome SafeDestination::makeSymlink(const QStringList& path, const QByteArray& target, const EntryMeta& meta)
{
    if (!linkStaysInside(path, target))
        return blocked(QStringLiteral("link target leaves the destination (") + QString::fromUtf8(target) + u')', path);
    const std::lock_guard lock(m_mutex);
    Outcome result;
    QByteArray name;
    const int parent = openParent(path, true, &name, &result);
    if (parent < 0)
        return result;
    if (::symlinkat(target.constData(), parent, name.constData()) != 0) {
        if (errno == EEXIST) {
            return kept(path);
        }
        return failed(QStringLiteral("cannot create the link"), path, errno);
    }
    noteMade(path, false);
    if (meta.mtime) {
        const timespec times[2] = { *meta.mtime, *meta.mtime };
        ::utimensat(parent, name.constData(), times, AT_SYMLINK_NOFOLLOW);
    }
    return {};
}

Outcome SafeDestination::beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta)
{
    const mode_t mode = meta.mode ? (*meta.mode & 0777) : 0666;
    file.discard();
    if (path.isEmpty())
        return blocked(QStringLiteral("empty name"), path);
    Outcome result;
    QByteArray name;
    int parent = -1;
    {
        // The folder is looked up (and made) under the lock; the file gets
        // a descriptor of the folder of its own, so that creating, writing
        // and naming it run side by side with other entries.
        const std::lock_guard lock(m_mutex);
        const int cached = openParent(path, true, &name, &result);
        if (cached < 0)
            return result;
        parent = ::fcntl(cached, F_DUPFD_CLOEXEC, 0);
        if (parent < 0)
            return failed(QStringLiteral("cannot create a file for"), path, errno);
    }
    file.m_dirFd = parent;
    struct stat st;
    if (::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        file.discard();
        return kept(path);
    }
    if (errno != ENOENT) {
        const int error = errno;
        file.discard();
        return failed(QStringLiteral("cannot look at"), path, error);
    }

    // A file without a name where the system makes one (local file systems):
    // it gets its name only when complete, and nothing is left if the
    // process dies before. Elsewhere, a hidden temporary name.
    if (canNameUnnamedFiles()) {
        file.m_fd = ::openat(parent, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        file.m_unnamed = file.m_fd >= 0;
    }
    for (int attempt = 0; attempt < 16 && file.m_fd < 0; ++attempt) {
        char temp[32];
        std::snprintf(temp, sizeof temp, ".zavrin-%08x", QRandomGenerator::global()->generate());
        file.m_fd = ::openat(parent, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (file.m_fd >= 0)
            file.m_tempName = temp;
        else if (errno != EEXIST)
            break;
    }
    if (file.m_fd < 0) {
        const int error = errno;
        file.discard();
        return failed(QStringLiteral("cannot create a file for"), path, error);
    }
    file.m_mode = mode & ~umaskValue();
    file.m_finalName = name;
    file.m_path = path;
    return {};
}

Outcome SafeDestination::commitFile(PendingFile& file, const EntryMeta& meta)
{
    const QStringList path = file.m_path;
    // Usually the file was created with this mode and the umask took nothing off.
    const mode_t mode = meta.mode ? (*meta.mode & 0777) : (0666 & ~umaskValue());
    if (mode != file.m_mode)
        ::fchmod(file.m_fd, mode);
    // A hole at the end is no data to write: the size alone makes it.
    if (file.m_endsInHole) {
        const off_t end = ::lseek(file.m_fd, 0, SEEK_CUR);
        if (end < 0 || ::ftruncate(file.m_fd, end) != 0) {
            const int error = errno;
            file.discard();
            return failed(QStringLiteral("cannot write"), path, error);
        }
    }
    if (meta.mtime) {
        const timespec times[2] = { *meta.mtime, *meta.mtime };
        ::futimens(file.m_fd, times);
    }
    if (file.m_unnamed)
        return nameUnnamedFile(file);
    const int fd = std::exchange(file.m_fd, -1);
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        file.discard();
        return failed(QStringLiteral("cannot write"), path, error);
    }
    if (renameNoReplace(file.m_dirFd, file.m_tempName.constData(), file.m_dirFd, file.m_finalName.constData()) != 0) {
        const int error = errno;
        file.discard();
        if (error == EEXIST) {
            return kept(path);
        }
        return failed(QStringLiteral("cannot name"), path, error);
    }
    file.m_tempName.clear();
    file.discard();
    const std::lock_guard lock(m_mutex);
    noteMade(path, false);
    return {};
}

void SafeDestination::setUnnamedFilesForTesting(bool on)
{
    unnamedFilesOff = !on;
}

Outcome SafeDestination::nameUnnamedFile(PendingFile& file)
{
    const QStringList path = file.m_path;
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.m_fd);
    // Linking never replaces: a name taken meanwhile keeps what is there.
    if (::linkat(AT_FDCWD, self, file.m_dirFd, file.m_finalName.constData(), AT_SYMLINK_FOLLOW) != 0) {
        const int error = errno;
        file.discard();
        if (error == EEXIST)
            return kept(path);
        return failed(QStringLiteral("cannot name"), path, error);
    }
    const int fd = std::exchange(file.m_fd, -1);
    if (::close(fd) != 0 && errno != EINTR) {
        // The data may not all have arrived: the name goes again.
        const int error = errno;
        ::unlinkat(file.m_dirFd, file.m_finalName.constData(), 0);
        file.discard();
        return failed(QStringLiteral("cannot write"), path, error);
    }
    file.discard();
    const std::lock_guard lock(m_mutex);
    noteMade(path, false);
    return {};
}

Outcome SafeDestination::moveIn(int fromDirFd, const QByteArray& fromName, const QStringList& path)
{
    struct stat st;
    if (path.isEmpty() || ::fstatat(fromDirFd, fromName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return blocked(QStringLiteral("missing staged entry"), path);
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(static_cast<qsizetype>(PATH_MAX), '\0');
        const ssize_t n = ::readlinkat(fromDirFd, fromName.constData(), target.data(), target.size());
        target.resize(n > 0 ? n : 0);
        if (!linkStaysInside(path, target))
            return blocked(
                QStringLiteral("link target leaves the destination (") + QString::fromUtf8(target) + u')', path);
    } else if (!S_ISREG(st.st_mode)) {
        return blocked(QStringLiteral("not a file or a link"), path);
    } else if (st.st_mode & 07000) {
        ::fchmodat(fromDirFd, fromName.constData(), st.st_mode & 0777, 0);
    }
    const std::lock_guard lock(m_mutex);
    Outcome result;
    QByteArray name;
    const int parent = openParent(path, true, &name, &result);
    if (parent < 0)
        return result;
    if (renameNoReplace(fromDirFd, fromName.constData(), parent, name.constData()) != 0) {
        if (errno == EEXIST) {
            return kept(path);
        }
        return failed(QStringLiteral("cannot move into place"), path, errno);
    }
    noteMade(path, false);
    return {};
}

Outcome SafeDestination::moveCheckedFolderIn(int fromDirFd, const QByteArray& fromName, const QStringList& path,
    const std::vector<std::pair<QStringList, EntryMeta>>& folders)
{
    const std::lock_guard lock(m_mutex);
    Outcome result;
    QByteArray name;
    const int parent = openParent(path, true, &name, &result);
    if (parent < 0)
        return result;
    // No fallback to link and unlink here: folders cannot be linked.
    if (::renameat2(fromDirFd, fromName.constData(), parent, name.constData(), RENAME_NOREPLACE) != 0)
        return { .status = Outcome::Status::Kept };
    noteMade(path, true);
    for (const auto& [folder, meta] : folders) {
        m_createdFolders.insert(joined(folder));
        if (meta.mode || meta.mtime)
            m_folderMeta.emplace_back(folder, meta);
    }
    return {};
}

bool SafeDestination::isTaken(const QStringList& path)
{
    const std::lock_guard lock(m_mutex);
    Outcome result;
    QByteArray name;
    const int parent = path.isEmpty() ? -1 : openParent(path, false, &name, &result);
    struct stat st;
    return parent >= 0 && ::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

Outcome SafeDestination::hardLinkEntry(const QStringList& path, const QStringList& existing)
{
    const std::lock_guard lock(m_mutex);
    Outcome result;
    QByteArray fromName;
    const int cached = openParent(existing, false, &fromName, &result);
    if (cached < 0)
        return orFailed(result, path);
    struct stat st;
    if (::fstatat(cached, fromName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return blocked(QStringLiteral("the linked entry is not a file here"), path);
    // Opening the link's folder may drop the cached descriptors.
    const int fromParent = ::fcntl(cached, F_DUPFD_CLOEXEC, 0);
    if (fromParent < 0)
        return failed(QStringLiteral("cannot link"), path, errno);
    QByteArray name;
    const int parent = openParent(path, true, &name, &result);
    if (parent < 0) {
        ::close(fromParent);
        return result;
    }
    const int linked = ::linkat(fromParent, fromName.constData(), parent, name.constData(), 0);
    const int error = errno;
    ::close(fromParent);
    if (linked == 0) {
        noteMade(path, false);
        return {};
    }
    if (error == EEXIST) {
        return kept(path);
    }
    return failed(QStringLiteral("cannot link"), path, error);
}

Outcome SafeDestination::copyEntry(const QStringList& path, const QStringList& existing, const EntryMeta& meta)
{
    Outcome result;
    QByteArray fromName;
    int from = -1;
    {
        const std::lock_guard lock(m_mutex);
        const int fromParent = openParent(existing, false, &fromName, &result);
        if (fromParent < 0)
            return orFailed(result, path);
        from = ::openat(fromParent, fromName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    struct stat st;
    if (from < 0 || ::fstat(from, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (from >= 0)
            ::close(from);
        return blocked(QStringLiteral("the copied entry is not a file here"), path);
    }
    PendingFile file;
    result = beginFile(path, file, meta);
    if (result.ok()) {
        std::vector<char> buffer(1 << 16);
        for (;;) {
            const ssize_t n = ::read(from, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || (n > 0 && !file.write(buffer.data(), n))) {
                const int error = errno;
                file.discard();
                ::close(from);
                return failed(QStringLiteral("cannot copy into"), path, error);
            }
            if (n == 0)
                break;
        }
        result = commitFile(file, meta);
    }
    ::close(from);
    return result;
}

bool SafeDestination::finish()
{
    const std::lock_guard lock(m_mutex);
    // Deepest folders first: a folder's time changes while entries are
    // created in it, and a read-only mode must not stop work below it.
    std::stable_sort(m_folderMeta.begin(), m_folderMeta.end(),
        [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    bool ok = true;
    for (const auto& [path, meta] : m_folderMeta) {
        Outcome result;
        const int fd = openFolder(path, false, &result);
        if (fd < 0) {
            ok = false;
            continue;
        }
        if (meta.mtime) {
            const timespec times[2] = { *meta.mtime, *meta.mtime };
            ::futimens(fd, times);
        }
        if (meta.mode)
            ::fchmod(fd, *meta.mode & 0777);
    }
    m_folderMeta.clear();
    closeCachedFolders();
    return ok;
}

void SafeDestination::forgetMade()
{
    const std::lock_guard lock(m_mutex);
    m_undoable = false;
    std::vector<std::pair<QString, bool>>().swap(m_made);
}

void SafeDestination::rollBack()
{
    const std::lock_guard lock(m_mutex);
    m_folderMeta.clear();
    for (auto it = m_made.crbegin(); it != m_made.crend(); ++it) {
        const QStringList path = it->first.split(u'/');
        const bool folder = it->second;
        Outcome result;
        QByteArray name;
        const int parent = openParent(path, false, &name, &result);
        if (parent >= 0 && ::unlinkat(parent, name.constData(), folder ? AT_REMOVEDIR : 0) == 0)
            continue;
        if (!folder || errno != ENOTEMPTY)
            qCWarning(lcEngine, "cannot remove %s: %s", qUtf8Printable(joined(path)), std::strerror(errno));
    }
    m_made.clear();
    closeCachedFolders();
}
