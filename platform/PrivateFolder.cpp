#include "platform/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Outcome failed(const QString& path, int error)
{
    return { .status = Outcome::Status::Failed,
        .message = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)) };
}

} // namespace

Outcome PrivateFolder::temporaryRoot(QString* path)
{
    const QString root = QDir::tempPath() + QStringLiteral("/zavrin-") + QString::number(::geteuid());
    const QByteArray name = QFile::encodeName(root);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return failed(root, errno);
    struct stat st { };
    if (::lstat(name.constData(), &st) != 0)
        return failed(root, errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return { .status = Outcome::Status::Failed,
            .message = root + QStringLiteral(": not a private folder of this user") };
    // Ours but open to others (made with another umask, or changed): close it.
    // Nobody else can reach inside afterwards, whatever they left there.
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return failed(root, errno);
    *path = root;
    return {};
}
