#include "screens/ArchiveNaming.h"

#include <QDir>
#include <QStringList>
#include <algorithm>

namespace {

// The components of an item's path, the root folder first: /A/B/c.txt has
// four ("/", "A", "B", "c.txt"). A trailing slash adds none.
QStringList components(const QUrl& url)
{
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    return QStringList { QStringLiteral("/") } + path.split(u'/', Qt::SkipEmptyParts);
}

QString withoutLastExtension(const QString& name)
{
    // A leading dot starts a hidden name, not an extension.
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

} // namespace

namespace ArchiveNaming {

QString sourceFolder(const QList<QUrl>& items)
{
    if (items.isEmpty())
        return {};
    qsizetype shallowest = 999;
    for (const QUrl& item : items)
        shallowest = std::min(shallowest, components(item).size());
    if (shallowest < 2)
        return {};
    const QStringList first = components(items.first());
    return u'/' + first.mid(1, shallowest - 2).join(u'/');
}

QString proposedName(const QList<QUrl>& items)
{
    const QString fallback = QStringLiteral("Archive.zip");
    if (items.size() != 1)
        return fallback;
    const QStringList parts = components(items.first());
    const QString base = parts.size() > 1 ? withoutLastExtension(parts.last()) : QString();
    return base.isEmpty() ? fallback : base + QStringLiteral(".zip");
}

QString startFolder(const QList<QUrl>& items)
{
    const QString folder = sourceFolder(items);
    return folder.isEmpty() ? QDir::homePath() : folder;
}

QString defaultPath(const QList<QUrl>& items)
{
    const QString folder = startFolder(items);
    return (folder.endsWith(u'/') ? folder : folder + u'/') + proposedName(items);
}

} // namespace ArchiveNaming
