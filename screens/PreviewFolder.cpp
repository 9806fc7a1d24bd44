#include "screens/PreviewFolder.h"

#include "platform/Bundle.h"
#include "platform/Folders.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString& baseOverride()
{
    static QString base;
    return base;
}

QString& current()
{
    static QString folder;
    return folder;
}

// A folder of the user's own that no one else can enter; anything else at
// the path (a link, another user's folder) is refused. With `make`, one is
// made when missing and a folder of ours that others could enter is shut.
bool isPrivateFolder(const QString& path, bool make)
{
    const QByteArray name = QFile::encodeName(path);
    if (make && ::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st { };
    if (::lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    return (st.st_mode & 0077) == 0 || (make && ::chmod(name.constData(), 0700) == 0);
}

QString baseFolder()
{
    if (!baseOverride().isEmpty())
        return baseOverride();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime, false))
        return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return QDir().mkpath(cache) ? cache : QString();
}

QString makeUnique(const QString& pattern)
{
    QByteArray name = QFile::encodeName(pattern);
    return ::mkdtemp(name.data()) ? QFile::decodeName(name) : QString();
}

// Folders "<pid>-XXXXXX" of programs that no longer run.
void removeLeftovers(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    if (const auto entries = Folders::list(fd)) {
        for (const Folders::Entry& entry : *entries) {
            const qsizetype dash = entry.name.indexOf('-');
            bool number = false;
            const pid_t pid = static_cast<pid_t>(entry.name.left(dash).toLong(&number));
            if (dash <= 0 || !number || pid <= 0 || pid == ::getpid())
                continue;
            if (::kill(pid, 0) != 0 && errno == ESRCH)
                Folders::removeTree(fd, entry.name.constData());
        }
    }
    ::close(fd);
}

} // namespace

namespace PreviewFolder {

QString path()
{
    if (!current().isEmpty())
        return current();
    const QString base = baseFolder();
    const QString folder = base + u'/' + Bundle::identifier() + QStringLiteral("-preview");
    if (base.isEmpty() || !isPrivateFolder(folder, true)) {
        qCWarning(lcUi, "no private folder for opened entries under %s", qUtf8Printable(base));
        return {};
    }
    removeLeftovers(folder);
    current() = makeUnique(folder + u'/' + QString::number(::getpid()) + QStringLiteral("-XXXXXX"));
    return current();
}

QString makeEntryFolder()
{
    const QString folder = path();
    return folder.isEmpty() ? QString() : makeUnique(folder + QStringLiteral("/open-XXXXXX"));
}

void remove()
{
    if (current().isEmpty())
        return;
    const QByteArray folder = QFile::encodeName(current());
    const qsizetype slash = folder.lastIndexOf('/');
    const int parent = ::open(folder.left(slash).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (parent < 0 || !Folders::removeTree(parent, folder.mid(slash + 1).constData()))
        qCWarning(lcUi, "could not remove %s: %s", folder.constData(), std::strerror(errno));
    if (parent >= 0)
        ::close(parent);
    current().clear();
}

void setBaseForTesting(const QString& base)
{
    baseOverride() = base;
    current().clear();
}

} // namespace PreviewFolder
