#include "engine/safety/OpenFolders.h"

#include "engine/safety/EntryNames.h"
#include "platform/Logging.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Descriptors of recently used folders are kept; past this many the whole
// cache is dropped, so that huge archives stay within the descriptor
// limit. Pending files hold copies of their own, so nothing in use closes.
constexpr qsizetype kCachedFolders = 128;

QString joined(const QStringList& path)
{
    return path.join(u'/');
}

} // namespace

OpenFolders::OpenFolders(int rootFd, long nameMax, OnMade onMade)
    : m_rootFd(rootFd)
    , m_nameMax(nameMax)
    , m_onMade(std::move(onMade))
{
}

OpenFolders::~OpenFolders()
{
    closeAll();
}

Outcome OpenFolders::failed(const QString& what, const QStringList& path, int error)
{
    const bool full = error == ENOSPC || error == EDQUOT;
    Outcome outcome { .status = full                                ? Outcome::Status::NoSpace
            : (error == EACCES || error == EPERM || error == EROFS) ? Outcome::Status::NoPermission
                                                                    : Outcome::Status::Failed,
        .message = QStringLiteral("%1 %2: %3").arg(what, joined(path), QString::fromLocal8Bit(std::strerror(error))) };
    qCWarning(lcEngine, "%s", qUtf8Printable(outcome.message));
    return outcome;
}

Outcome OpenFolders::blocked(const QString& why, const QStringList& path)
{
    Outcome outcome { .status = Outcome::Status::Blocked,
        .message = QStringLiteral("entry not extracted, %1: %2").arg(why, joined(path)) };
    qCWarning(lcEngine, "%s", qUtf8Printable(outcome.message));
    return outcome;
}

int OpenFolders::Parent::duplicate() const
{
    return ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
}

OpenFolders::Parent OpenFolders::parentOf(const QStringList& path, bool create)
{
    Parent parent;
    parent.m_lock = std::unique_lock(m_mutex);
    parent.m_fd = openParent(path, create, &parent.m_name, &parent.m_failure);
    return parent;
}

void OpenFolders::noteMade(const QStringList& path)
{
    m_made.insert(joined(path));
    if (m_onMade)
        m_onMade(path);
}

void OpenFolders::closeAll()
{
    for (int fd : std::as_const(m_fds))
        ::close(fd);
    m_fds.clear();
}

int OpenFolders::folder(const QStringList& path, bool create, Outcome* result)
{
    if (path.isEmpty())
        return m_rootFd;
    const QString key = joined(path);
    if (const auto it = m_fds.constFind(key); it != m_fds.constEnd())
        return it.value();

    QByteArray name;
    const int parent = openParent(path, create, &name, result);
    if (parent < 0)
        return -1;
    int fd = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdirat(parent, name.constData(), 0777) == 0)
            noteMade(path);
        else if (errno != EEXIST)
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
    if (m_fds.size() >= kCachedFolders)
        closeAll();
    m_fds.insert(key, fd);
    return fd;
}

int OpenFolders::openParent(const QStringList& path, bool create, QByteArray* name, Outcome* result)
{
    if (path.isEmpty())
        return *result = blocked(QStringLiteral("empty name"), path), -1;
    const int parent = folder(path.mid(0, path.size() - 1), create, result);
    if (parent < 0)
        return -1;
    *name = EntryNames::fsName(path.last());
    if (name->size() > m_nameMax)
        return *result = failed(QStringLiteral("name too long for the file system:"), path, ENAMETOOLONG), -1;
    return parent;
}
