#pragma once

// What the writing and tar suites share: real tools run in a folder, file
// times set to the nanosecond, the items of a job, a folder tree described
// item by item, and a temporary directory of the tests' own for staging.
#include "engine/JobModels.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ArchiveTesting {

// Runs `program` in `folder`; true when it ran and exited with 0.
inline bool run(const QString& folder, const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.closeWriteChannel();
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

inline bool shell(const QString& folder, const QString& script)
{
    return run(folder, QStringLiteral("bash"), { QStringLiteral("-ec"), script });
}

inline void setTimes(const QByteArray& path, timespec time)
{
    const timespec times[2] = { time, time };
    ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW);
}
inline void setTimes(const QString& path, timespec time)
{
    setTimes(QFile::encodeName(path), time);
}

inline QList<FileModel> models(const QStringList& paths)
{
    QList<FileModel> files;
    for (const QString& path : paths)
        files.append(FileModel(path));
    return files;
}

// How much of an item `tree` tells besides its kind and content.
enum class Detail {
    // Mode, time to the nanosecond and hard-link count of everything.
    Full,
    // The same with times in whole seconds.
    Seconds,
    // Modes, and the times of files only: tools set those of folders and
    // links as they go.
    FileTimes,
};

inline void walk(const QByteArray& root, const QByteArray& relative, Detail detail, QMap<QByteArray, QString>* items)
{
    DIR* dir = ::opendir(QByteArray(root + relative).constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = relative + '/' + name;
        struct stat st { };
        ::lstat(QByteArray(root + path).constData(), &st);
        const bool timed = detail != Detail::FileTimes || S_ISREG(st.st_mode);
        QString item = QStringLiteral("mode %1 ").arg(st.st_mode & 07777, 0, 8);
        if (timed)
            item += QStringLiteral("time %1.%2 ")
                        .arg(st.st_mtim.tv_sec)
                        .arg(detail == Detail::Full ? st.st_mtim.tv_nsec : 0);
        if (S_ISDIR(st.st_mode)) {
            items->insert(path, item + QStringLiteral("folder"));
            walk(root, path, detail, items);
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(4096, '\0');
            target.resize(
                std::max<ssize_t>(0, ::readlink(QByteArray(root + path).constData(), target.data(), target.size())));
            items->insert(path, item + QStringLiteral("link to ") + QString::fromLatin1(target.toHex()));
        } else {
            QFile file(QFile::decodeName(root + path));
            const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
            items->insert(path,
                item + QStringLiteral("links %1 file ").arg(detail == Detail::FileTimes ? 1 : st.st_nlink)
                    + QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex()));
        }
    }
    ::closedir(dir);
}

// Every item below `root` by the bytes of its relative name ("/a/b"): kind,
// mode (set-id and sticky bits count), the detail asked for, and a digest of
// the content or the link's target.
inline QMap<QByteArray, QString> tree(const QString& root, Detail detail = Detail::Full)
{
    QMap<QByteArray, QString> items;
    walk(QFile::encodeName(root), {}, detail, &items);
    return items;
}

// Points TMPDIR, where jobs stage, at `folder` while it lives.
class OwnTemporaryDirectory final {
public:
    explicit OwnTemporaryDirectory(const QString& folder)
        : m_saved(qgetenv("TMPDIR"))
    {
        ::mkdir(QFile::encodeName(folder).constData(), 0700);
        qputenv("TMPDIR", QFile::encodeName(folder));
    }
    ~OwnTemporaryDirectory()
    {
        if (m_saved.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_saved);
    }
    Q_DISABLE_COPY_MOVE(OwnTemporaryDirectory)

private:
    QByteArray m_saved;
};

} // namespace ArchiveTesting
