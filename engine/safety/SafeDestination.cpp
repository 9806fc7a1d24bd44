#include "engine/safety/SafeDestination.h"

#include "engine/safety/EntryNames.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::atomic<bool> unnamedFilesOff = false;
std::atomic<bool> plainFileSystem = false;

QString joined(const QStringList& path)
{
    return path.join(u'/');
}

bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

// Renames without ever replacing. renameat2's RENAME_NOREPLACE where the
// file system has it; else a hard link and an unlink; else (FAT and exFAT
// have neither) the name is first claimed with an empty file of our own,
// made exclusively, which the rename then replaces.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (!plainFileSystem) {
        if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
            return 0;
        if (!unsupported(errno))
            return -1;
        if (::linkat(fromDir, from, toDir, to, 0) == 0) {
            ::unlinkat(fromDir, from, 0);
            return 0;
        }
        if (!unsupported(errno))
            return -1;
    }
    const int claim = ::openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (claim < 0)
        return -1;
    ::close(claim);
    if (::renameat(fromDir, from, toDir, to) == 0)
        return 0;
    const int error = errno;
    ::unlinkat(toDir, to, 0);
    errno = error;
    return -1;
}

// Whether files made with O_TMPFILE can be given a name: linkat reaches
// them through /proc (linking by descriptor alone needs a privilege).
bool canNameUnnamedFiles()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can && !unnamedFilesOff && !plainFileSystem;
}

Outcome kept(const QStringList& path)
{
    qCInfo(lcEngine, "kept existing %s", qUtf8Printable(joined(path)));
    return { .status = Outcome::Status::Kept, .message = joined(path) };
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
    : m_undo(undoable)
{
    // What is missing of the folder's path is made, and noted so that a
    // failed job can take it back.
    for (QString missing = QDir::cleanPath(QDir(folder).absolutePath());
         !missing.isEmpty() && !QFileInfo::exists(missing) && missing != u"/"; missing = QFileInfo(missing).path())
        m_madeAbove.append(missing);
    if (!m_madeAbove.isEmpty() && !QDir().mkpath(folder))
        m_madeAbove.clear();
    // The destination itself was chosen by the user and may be a link.
    m_rootFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_rootFd < 0) {
        m_openFailure = OpenFolders::failed(QStringLiteral("cannot open the destination"), { folder }, errno);
        return;
    }
    const long nameMax = ::fpathconf(m_rootFd, _PC_NAME_MAX);
    m_folders.emplace(
        m_rootFd, nameMax > 0 ? nameMax : 255, [this](const QStringList& path) { m_undo.noteMade(path, true); });
}

SafeDestination::~SafeDestination()
{
    m_folders.reset();
    if (m_rootFd >= 0)
        ::close(m_rootFd); // lets the claim go too
}

Outcome SafeDestination::claim(const std::function<bool()>& stopped)
{
    bool waited = false;
    while (::flock(m_rootFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            qCInfo(lcEngine, "no advisory lock on the destination: %s", std::strerror(errno));
            return {};
        }
        if (!waited)
            qCInfo(lcEngine, "another job writes into the destination; waiting for it");
        waited = true;
        if (stopped && stopped())
            return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
        QThread::msleep(20);
    }
    return {};
}

void SafeDestination::noteMade(const QStringList& path, bool folder)
{
    if (folder)
        m_folders->noteMade(path);
    else
        m_undo.noteMade(path, false);
}

Outcome SafeDestination::makeDirectory(const QStringList& path, const EntryMeta& meta)
{
    if (path.isEmpty())
        return { .status = Outcome::Status::Kept };
    const OpenFolders::Parent parent = m_folders->parentOf(path, true);
    if (!parent.ok())
        return parent.failure();
    if (::mkdirat(parent.fd(), parent.name().constData(), 0777) == 0)
        noteMade(path, true);
    else if (errno != EEXIST)
        return OpenFolders::failed(QStringLiteral("cannot create the folder"), path, errno);
    else if (!m_folders->made(joined(path)))
        return kept(path);
    if (meta.mode || meta.mtime)
        m_folderMeta.emplace_back(path, meta);
    return {};
}

Outcome SafeDestination::makeSymlink(const QStringList& path, const QByteArray& target, const EntryMeta& meta)
{
    if (!EntryNames::linkStaysInside(path, target))
        return OpenFolders::blocked(
            QStringLiteral("link target leaves the destination (") + QString::fromUtf8(target) + u')', path);
    const OpenFolders::Parent parent = m_folders->parentOf(path, true);
    if (!parent.ok())
        return parent.failure();
    if (::symlinkat(target.constData(), parent.fd(), parent.name().constData()) != 0) {
        if (errno == EEXIST)
            return kept(path);
        // FAT and exFAT hold no links: the rest of the archive still comes out.
        if (errno == ENOSYS || errno == EPERM || errno == EOPNOTSUPP)
            return OpenFolders::blocked(QStringLiteral("the file system cannot hold links"), path);
        return OpenFolders::failed(QStringLiteral("cannot create the link"), path, errno);
    }
    noteMade(path, false);
    if (meta.mtime) {
        const timespec times[2] = { *meta.mtime, *meta.mtime };
        ::utimensat(parent.fd(), parent.name().constData(), times, AT_SYMLINK_NOFOLLOW);
    }
    return {};
}

Outcome SafeDestination::beginFile(const QStringList& path, PendingFile& file, const EntryMeta& meta)
{
    const mode_t mode = meta.mode ? (*meta.mode & 0777) : 0666;
    file.discard();
    if (path.isEmpty())
        return OpenFolders::blocked(QStringLiteral("empty name"), path);
    QByteArray name;
    bool freshFolder = false;
    {
        // The folder is looked up (and made) under the lock; the file gets
        // a descriptor of the folder of its own, so that creating, writing
        // and naming it run side by side with other entries.
        const OpenFolders::Parent parent = m_folders->parentOf(path, true);
        if (!parent.ok())
            return parent.failure();
        file.m_dirFd = parent.duplicate();
        if (file.m_dirFd < 0)
            return OpenFolders::failed(QStringLiteral("cannot create a file for"), path, errno);
        name = parent.name();
        freshFolder = path.size() == 1 ? !m_madeAbove.isEmpty() : m_folders->made(joined(path.mid(0, path.size() - 1)));
    }
    // A name taken already is kept before any data is written. In a folder
    // this job made, nothing was there to keep: the naming, which never
    // replaces, is check enough (this saves a lookup a file).
    struct stat st;
    if (!freshFolder && ::fstatat(file.m_dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        file.discard();
        return kept(path);
    }
    if (!freshFolder && errno != ENOENT) {
        const int error = errno;
        file.discard();
        return OpenFolders::failed(QStringLiteral("cannot look at"), path, error);
    }

    // A file without a name where the system makes one (local file systems):
    // it gets its name only when complete, and nothing is left if the
    // process dies before. Elsewhere, a hidden temporary name.
    if (canNameUnnamedFiles()) {
        file.m_fd = ::openat(file.m_dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        file.m_unnamed = file.m_fd >= 0;
    }
    for (int attempt = 0; attempt < 16 && file.m_fd < 0; ++attempt) {
        char temp[32];
        std::snprintf(temp, sizeof temp, ".zavrin-%08x", QRandomGenerator::global()->generate());
        file.m_fd = ::openat(file.m_dirFd, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (file.m_fd >= 0)
            file.m_tempName = temp;
        else if (errno != EEXIST)
            break;
    }
    if (file.m_fd < 0) {
        const int error = errno;
        file.discard();
        return OpenFolders::failed(QStringLiteral("cannot create a file for"), path, error);
    }
    file.m_mode = mode & ~EntryNames::umaskValue();
    file.m_finalName = name;
    file.m_path = path;
    return {};
}

Outcome SafeDestination::commitFile(PendingFile& file, const EntryMeta& meta)
{
    const QStringList path = file.m_path;
    // Usually the file was created with this mode and the umask took nothing off.
    const mode_t mode = meta.mode ? (*meta.mode & 0777) : (0666 & ~EntryNames::umaskValue());
    if (mode != file.m_mode)
        ::fchmod(file.m_fd, mode);
    // A hole at the end is no data to write: the size alone makes it.
    if (file.m_endsInHole) {
        const off_t end = ::lseek(file.m_fd, 0, SEEK_CUR);
        if (end < 0 || ::ftruncate(file.m_fd, end) != 0) {
            const int error = errno;
            file.discard();
            return OpenFolders::failed(QStringLiteral("cannot write"), path, error);
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
        return OpenFolders::failed(QStringLiteral("cannot write"), path, error);
    }
    if (renameNoReplace(file.m_dirFd, file.m_tempName.constData(), file.m_dirFd, file.m_finalName.constData()) != 0) {
        const int error = errno;
        file.discard();
        if (error == EEXIST)
            return kept(path);
        return OpenFolders::failed(QStringLiteral("cannot name"), path, error);
    }
    file.m_tempName.clear();
    file.discard();
    const auto lock = m_folders->lock();
    noteMade(path, false);
    return {};
}

void SafeDestination::setUnnamedFilesForTesting(bool on)
{
    unnamedFilesOff = !on;
}

void SafeDestination::setPlainFileSystemForTesting(bool on)
{
    plainFileSystem = on;
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
        return OpenFolders::failed(QStringLiteral("cannot name"), path, error);
    }
    const int fd = std::exchange(file.m_fd, -1);
    if (::close(fd) != 0 && errno != EINTR) {
        // The data may not all have arrived: the name goes again.
        const int error = errno;
        ::unlinkat(file.m_dirFd, file.m_finalName.constData(), 0);
        file.discard();
        return OpenFolders::failed(QStringLiteral("cannot write"), path, error);
    }
    file.discard();
    const auto lock = m_folders->lock();
    noteMade(path, false);
    return {};
}

Outcome SafeDestination::moveIn(int fromDirFd, const QByteArray& fromName, const QStringList& path)
{
    struct stat st;
    if (path.isEmpty() || ::fstatat(fromDirFd, fromName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return OpenFolders::blocked(QStringLiteral("missing staged entry"), path);
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(static_cast<qsizetype>(PATH_MAX), '\0');
        const ssize_t n = ::readlinkat(fromDirFd, fromName.constData(), target.data(), target.size());
        target.resize(n > 0 ? n : 0);
        if (!EntryNames::linkStaysInside(path, target))
            return OpenFolders::blocked(
                QStringLiteral("link target leaves the destination (") + QString::fromUtf8(target) + u')', path);
    } else if (!S_ISREG(st.st_mode)) {
        return OpenFolders::blocked(QStringLiteral("not a file or a link"), path);
    } else if (st.st_mode & 07000) {
        ::fchmodat(fromDirFd, fromName.constData(), st.st_mode & 0777, 0);
    }
    const OpenFolders::Parent parent = m_folders->parentOf(path, true);
    if (!parent.ok())
        return parent.failure();
    if (renameNoReplace(fromDirFd, fromName.constData(), parent.fd(), parent.name().constData()) != 0) {
        if (errno == EEXIST)
            return kept(path);
        return OpenFolders::failed(QStringLiteral("cannot move into place"), path, errno);
    }
    noteMade(path, false);
    return {};
}

Outcome SafeDestination::moveCheckedFolderIn(int fromDirFd, const QByteArray& fromName, const QStringList& path,
    const std::vector<std::pair<QStringList, EntryMeta>>& folders)
{
    const OpenFolders::Parent parent = m_folders->parentOf(path, true);
    if (!parent.ok())
        return parent.failure();
    // No fallback to link and unlink here: folders cannot be linked.
    if (plainFileSystem
        || ::renameat2(fromDirFd, fromName.constData(), parent.fd(), parent.name().constData(), RENAME_NOREPLACE) != 0)
        return { .status = Outcome::Status::Kept };
    m_undo.noteMade(path, true);
    for (const auto& [folder, meta] : folders) {
        m_folders->noteMovedIn(folder);
        if (meta.mode || meta.mtime)
            m_folderMeta.emplace_back(folder, meta);
    }
    return {};
}

bool SafeDestination::isTaken(const QStringList& path)
{
    if (path.isEmpty())
        return false;
    const OpenFolders::Parent parent = m_folders->parentOf(path, false);
    struct stat st;
    return parent.ok() && ::fstatat(parent.fd(), parent.name().constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

Outcome SafeDestination::hardLinkEntry(const QStringList& path, const QStringList& existing)
{
    OpenFolders::Parent from = m_folders->parentOf(existing, false);
    if (!from.ok())
        return orFailed(from.failure(), path);
    struct stat st;
    if (::fstatat(from.fd(), from.name().constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return OpenFolders::blocked(QStringLiteral("the linked entry is not a file here"), path);
    // Opening the link's folder may drop the cached descriptors.
    const int fromParent = from.duplicate();
    const QByteArray fromName = from.name();
    from.unlock();
    if (fromParent < 0)
        return OpenFolders::failed(QStringLiteral("cannot link"), path, errno);
    const OpenFolders::Parent parent = m_folders->parentOf(path, true);
    if (!parent.ok()) {
        ::close(fromParent);
        return parent.failure();
    }
    const int linked = ::linkat(fromParent, fromName.constData(), parent.fd(), parent.name().constData(), 0);
    const int error = errno;
    ::close(fromParent);
    if (linked == 0) {
        noteMade(path, false);
        return {};
    }
    if (error == EEXIST)
        return kept(path);
    return OpenFolders::failed(QStringLiteral("cannot link"), path, error);
}

Outcome SafeDestination::copyEntry(const QStringList& path, const QStringList& existing, const EntryMeta& meta)
{
    int from = -1;
    {
        const OpenFolders::Parent parent = m_folders->parentOf(existing, false);
        if (!parent.ok())
            return orFailed(parent.failure(), path);
        from = ::openat(parent.fd(), parent.name().constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    struct stat st;
    if (from < 0 || ::fstat(from, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (from >= 0)
            ::close(from);
        return OpenFolders::blocked(QStringLiteral("the copied entry is not a file here"), path);
    }
    PendingFile file;
    Outcome result = beginFile(path, file, meta);
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
                return OpenFolders::failed(QStringLiteral("cannot copy into"), path, error);
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
    const auto lock = m_folders->lock();
    // Deepest folders first: a folder's time changes while entries are
    // created in it, and a read-only mode must not stop work below it.
    std::stable_sort(m_folderMeta.begin(), m_folderMeta.end(),
        [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    bool ok = true;
    for (const auto& [path, meta] : m_folderMeta) {
        Outcome result;
        const int fd = m_folders->folder(path, false, &result);
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
    m_folders->closeAll();
    return ok;
}

void SafeDestination::forgetMade()
{
    const auto lock = m_folders->lock();
    m_undo.forget();
}

void SafeDestination::rollBack()
{
    const auto lock = m_folders->lock();
    m_folderMeta.clear();
    m_undo.rollBack(*m_folders);
}

void SafeDestination::removeIfMadeAndEmpty()
{
    for (const QString& folder : std::as_const(m_madeAbove)) {
        if (::rmdir(QFile::encodeName(folder).constData()) != 0)
            break;
        qCInfo(lcEngine, "removed the folder the job made: %s", qUtf8Printable(folder));
    }
    m_madeAbove.clear();
}
