#include "engine/JobModels.h"

#include <QFile>
#include <sys/stat.h>

std::uint64_t FileModel::size() const
{
    // lstat, not QFileInfo: a folder reports its own entry, and no cache
    // stands between two reads.
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<QDateTime> FileModel::date() const
{
    struct stat st { };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    const qint64 msecs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(msecs);
}
