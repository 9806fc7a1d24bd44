#include "engine/StagingArea.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString describe(const QString& path, int error)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

// Removes `name` in the folder `parent` (a descriptor) without following
// any link, depth first. Leaves errno set on failure.
bool removeAt(int parent, const char* name)
{
    struct stat st {};
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parent, name, 0) == 0;

    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (const dirent* item = ::readdir(dir)) {
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            ok = removeAt(fd, item->d_name) && ok;
    }
    const int savedErrno = errno;
    ::closedir(dir);
    errno = savedErrno;
    return ok && ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

} // namespace

QString StagingArea::privateRoot(QString* error)
{
    const QString root = QDir::tempPath() + QStringLiteral("/zavrin-") + QString::number(::geteuid());
    const QByteArray path = QFile::encodeName(root);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *error = describe(root, errno);
        return {};
    }
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        *error = describe(root, errno);
        return {};
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        *error = root + QStringLiteral(": not a private folder of this user");
        return {};
    }
    // Ours but open to others (made with another umask, or changed): close it.
    // Nobody else can reach inside afterwards, whatever they left there.
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0) {
        *error = describe(root, errno);
        return {};
    }
    return root;
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

bool StagingArea::exists(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool StagingArea::removeItem(const QString& path, QString* error)
{
    if (removeAt(AT_FDCWD, QFile::encodeName(path).constData()))
        return true;
    *error = describe(path, errno);
    return false;
}

bool StagingArea::createFolder(const QString& path, QString* error)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0)
        return true;
    *error = describe(path, errno);
    return false;
}

bool StagingArea::linkItem(const QString& item, const QString& folder, QString* error)
{
    const QString source = QDir::cleanPath(QFileInfo(item).absoluteFilePath());
    const QString name = QFileInfo(source).fileName();
    if (name.isEmpty()) {
        *error = describe(item, EINVAL);
        return false;
    }
    const QByteArray sourcePath = QFile::encodeName(source);
    struct stat st {};
    if (::stat(sourcePath.constData(), &st) != 0) {
        *error = describe(source, errno);
        return false;
    }
    const QString link = folder + u'/' + name;
    if (::symlink(sourcePath.constData(), QFile::encodeName(link).constData()) != 0) {
        *error = describe(link, errno);
        return false;
    }
    return true;
}
