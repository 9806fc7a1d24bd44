#include "engine/zipwrite/StagingArea.h"

#include "platform/Folders.h"
#include "platform/Logging.h"
#include "platform/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString describe(const QString& path, int error)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

Outcome failed(const QString& path, int error)
{
    return { .status = Outcome::Status::Failed, .message = describe(path, error) };
}

constexpr char kJobPrefix[] = "job-";

// Holds the lock file of the private folder while alive: claiming a folder
// and removing those of ended jobs never run at the same time, so a new
// folder is locked before anyone can take it for a leftover.
class RootLock final {
public:
    explicit RootLock(int rootFd)
        : m_fd(::openat(rootFd, ".lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
        while (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) { }
    }
    ~RootLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;
    bool isHeld() const { return m_fd >= 0; }

private:
    int m_fd;
};

} // namespace

StagingArea::StagingArea(const QString& archivePath)
{
    m_openFailure = claim(archivePath);
}

Outcome StagingArea::claim(const QString& archivePath)
{
    QString root;
    if (Outcome made = PrivateFolder::temporaryRoot(&root); !made.ok())
        return made;
    const int rootFd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (rootFd < 0)
        return failed(root, errno);
    Outcome result;
    {
        const RootLock lock(rootFd);
        if (!lock.isHeld()) {
            result = failed(root + QStringLiteral("/.lock"), errno);
            ::close(rootFd);
            return result;
        }
        removeEndedJobs(rootFd);
        QByteArray folder = QFile::encodeName(root) + "/" + kJobPrefix + "XXXXXX";
        if (::mkdtemp(folder.data())) {
            m_jobFolder = QFile::decodeName(folder);
            m_jobFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (m_jobFd < 0 || ::flock(m_jobFd, LOCK_EX | LOCK_NB) != 0)
            result = failed(QFile::decodeName(folder), errno);
    }
    ::close(rootFd);
    if (result.ok()) {
        m_path = m_jobFolder + u'/' + folderName(archivePath);
        if (::mkdir(QFile::encodeName(m_path).constData(), 0700) != 0)
            result = failed(m_path, errno);
    }
    if (!result.ok() && m_jobFd >= 0) {
        ::close(m_jobFd);
        m_jobFd = -1;
    }
    return result;
}

StagingArea::~StagingArea()
{
    if (m_jobFd >= 0)
        ::close(m_jobFd);
}

// Removes every job folder that no live job holds locked, and anything
// else but the lock file (the staging folders of older versions).
void StagingArea::removeEndedJobs(int rootFd)
{
    const std::optional<std::vector<Folders::Entry>> entries = Folders::list(rootFd);
    std::vector<QByteArray> names;
    for (const Folders::Entry& entry : entries.value_or(std::vector<Folders::Entry> {})) {
        if (entry.name != ".lock")
            names.push_back(entry.name);
    }
    for (const QByteArray& name : names) {
        if (name.startsWith(kJobPrefix)) {
            const int fd = ::openat(rootFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const bool live = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            if (fd >= 0)
                ::close(fd);
            if (live)
                continue;
        }
        if (!Folders::removeTree(rootFd, name.constData()))
            qCWarning(lcEngineZip, "删除临时文件夹错误: %s", qUtf8Printable(describe(QFile::decodeName(name), errno)));
    }
}

Outcome StagingArea::linkItem(const QString& item)
{
    const QString source = QDir::cleanPath(QFileInfo(item).absoluteFilePath());
    const QString name = QFileInfo(source).fileName();
    if (name.isEmpty())
        return failed(item, EINVAL);
    const QByteArray sourcePath = QFile::encodeName(source);
    struct stat st { };
    if (::stat(sourcePath.constData(), &st) != 0)
        return { .status = Outcome::Status::Failed,
            .message = QStringLiteral("cannot read ") + describe(source, errno) };
    const QString link = m_path + u'/' + name;
    if (::symlink(sourcePath.constData(), QFile::encodeName(link).constData()) != 0) {
        if (errno != EEXIST)
            return failed(link, errno);
        return { .status = Outcome::Status::NameTaken,
            .message = source + QStringLiteral(": an earlier item is also named ") + name };
    }
    m_items.push_back({ QFile::encodeName(name).toStdString(), sourcePath.toStdString() });
    return {};
}

Outcome StagingArea::remove()
{
    return m_jobFolder.isEmpty() ? Outcome() : removeItem(m_jobFolder);
}

QString StagingArea::folderName(const QString& archivePath)
{
    const QString fileName = QFileInfo(archivePath).fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString name = dot > 0 ? fileName.left(dot) : fileName;
    if (name.isEmpty() || name == u"." || name == u"..")
        return fileName.isEmpty() || fileName == u"." || fileName == u".." ? QStringLiteral("Archive") : fileName;
    return name;
}

Outcome StagingArea::removeItem(const QString& path)
{
    if (Folders::removeTree(AT_FDCWD, QFile::encodeName(path).constData()))
        return {};
    return failed(path, errno);
}
