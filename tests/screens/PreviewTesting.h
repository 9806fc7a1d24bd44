#pragma once

// Helpers of the preview tests: archives made by the real tools, listed by
// the real engine, and a tree drawn as lines of text.
#include "engine/ArchiveListing.h"
#include "engine/ZipManager.h"
#include "screens/ArchiveTree.h"
#include "screens/TreeFilter.h"

#include <QProcess>
#include <QStringList>
#include <QTest>
#include <memory>

namespace PreviewTesting {

inline bool run(const QString& folder, const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(program, arguments);
    return tool.waitForFinished(600000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// A zip of empty entries named exactly `names` (in order, duplicates kept;
// a name ending in "/" is a folder), written by Python's zipfile.
inline bool pythonZip(const QString& archive, const QStringList& names)
{
    static const QString script
        = QStringLiteral("import sys, zipfile, warnings\n"
                         "warnings.simplefilter('ignore')\n"
                         "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:\n"
                         "    for name in sys.argv[2:]:\n"
                         "        z.writestr(name, b'' if name.endswith('/') else name.encode())\n");
    return run(
        QStringLiteral("."), QStringLiteral("python3"), QStringList { QStringLiteral("-c"), script, archive } + names);
}

// What the engine lists of `archive`, with `password` when given.
inline std::shared_ptr<const ArchiveListing> listed(
    const QString& archive, const std::optional<QString>& password = std::nullopt)
{
    std::shared_ptr<const ArchiveListing> listing;
    bool done = false;
    ZipManager::shared().list(archive, password, {}, [&](const Outcome&, std::shared_ptr<const ArchiveListing> list) {
        listing = std::move(list);
        done = true;
    });
    static_cast<void>(QTest::qWaitFor([&] { return done; }, 20000));
    return listing;
}

// The tree, depth first: two spaces a level, folders with "/", folders the
// listing only implies with " ~".
inline QStringList lines(const ArchiveTree& tree, const TreeFilter* filter = nullptr, int node = 0, int depth = 0)
{
    QStringList out;
    const int count = filter ? filter->childCount(node) : tree.childCount(node);
    for (int row = 0; row < count; ++row) {
        const int child = filter ? filter->child(node, row) : tree.child(node, row);
        QString line = QString(depth * 2, u' ') + tree.displayName(child);
        if (tree.isFolder(child))
            line += tree.entry(child) < 0 ? QStringLiteral("/ ~") : QStringLiteral("/");
        out << line << lines(tree, filter, child, depth + 1);
    }
    return out;
}

} // namespace PreviewTesting
