#include "engine/OwnFolder.h"

#include "engine/extract/ArchiveFormats.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <unistd.h>

namespace OwnFolder {

QString choose(const QString& toPath, const QString& archive)
{
    QString name = ArchiveFormats::stem(archive);
    if (name.isEmpty() || name == u"." || name == u"..")
        name = QFileInfo(archive).fileName() + QStringLiteral(" files");
    const QDir destination(toPath);
    QString folder = name;
    for (int n = 2;
         QFileInfo(destination.filePath(folder)).exists() || QFileInfo(destination.filePath(folder)).isSymLink(); ++n)
        folder = QStringLiteral("%1 (%2)").arg(name).arg(n);
    return destination.filePath(folder);
}

QString tidy(const QString& toPath, const QString& folder)
{
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int toFd = ::open(QFile::encodeName(toPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::optional<std::vector<Folders::Entry>> items = folderFd >= 0 ? Folders::list(folderFd) : std::nullopt;
    bool movedUp = false;
    if (toFd >= 0 && items && items->size() == 1) {
        const QByteArray& name = items->front().name;
        movedUp = ::renameat2(folderFd, name.constData(), toFd, name.constData(), RENAME_NOREPLACE) == 0;
    }
    if (folderFd >= 0)
        ::close(folderFd);
    if (toFd >= 0)
        ::close(toFd);
    if (movedUp && ::rmdir(QFile::encodeName(folder).constData()) == 0)
        return toPath;
    return folder;
}

} // namespace OwnFolder
