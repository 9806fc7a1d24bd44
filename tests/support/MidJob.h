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

// What a job left in `folder` that matches `pattern`, hidden items included.
inline QStringList leftIn(const QString& folder, const QString& pattern)
{
    return QDir(folder).entryList({ pattern }, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace MidJob
