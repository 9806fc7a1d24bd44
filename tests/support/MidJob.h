#pragma once

// The items of the tests that stop a program in the middle of a job:
// "a-small.txt", done first, and "big.bin", random bytes enough to keep a
// job busy for a good part of a second that no tool can compress.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>

namespace MidJob {

inline const QStringList kItems { QStringLiteral("a-small.txt"), QStringLiteral("big.bin") };

inline bool writeItems(const QString& folder)
{
    QByteArray big(160 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
    QFile bigFile(folder + QStringLiteral("/big.bin"));
    QFile small(folder + QStringLiteral("/a-small.txt"));
    return bigFile.open(QIODevice::WriteOnly) && bigFile.write(big) == big.size() && small.open(QIODevice::WriteOnly)
        && small.write("complete\n") == 9;
}

// Stores the items in `archive` (".zip", ".rar" or ".7z") in `folder` with
// the format's own tool; false when the tool is missing or fails.
inline bool packItems(const QString& folder, const QString& archive)
{
    QStringList command;
    if (archive.endsWith(QLatin1String(".zip")))
        command = QStringList { QStringLiteral("zip"), QStringLiteral("-q0") };
    else if (archive.endsWith(QLatin1String(".rar")))
        command
            = QStringList { QStringLiteral("rar"), QStringLiteral("a"), QStringLiteral("-idq"), QStringLiteral("-m0") };
    else
        command
            = QStringList { QStringLiteral("7zz"), QStringLiteral("a"), QStringLiteral("-bd"), QStringLiteral("-mx0") };
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.start(command.first(), command.mid(1) + QStringList { archive } + kItems);
    return tool.waitForFinished(120000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// Whether process `pid` has a file in `folder` open for writing an entry:
// one not named yet (the system shows its folder and "#inode (deleted)")
// or a hidden temporary.
inline bool writesIn(qint64 pid, const QString& folder)
{
    const QString canonical = QDir(folder).canonicalPath();
    if (canonical.isEmpty())
        return false;
    const QString prefix = canonical + QLatin1Char('/');
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds + QLatin1Char('/') + fd);
        const QString rest = target.mid(prefix.size());
        if (target.startsWith(prefix) && (rest.startsWith(QLatin1Char('#')) || rest.startsWith(QLatin1Char('.'))))
            return true;
    }
    return false;
}

// What a job left in `folder` that matches `pattern`, hidden items included.
inline QStringList leftIn(const QString& folder, const QString& pattern)
{
    return QDir(folder).entryList({ pattern }, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace MidJob
