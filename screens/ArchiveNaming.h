#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Where a new archive of some items goes by default, and its name.
namespace ArchiveNaming {

// The folder proposed for an archive of `items`: the ancestor of the first
// item at the depth of the shallowest item's parent. For items that share a
// folder that is the folder. Empty when an item is the root folder itself.
QString sourceFolder(const QList<QUrl>& items);
// "Archive.zip"; for one item its name without its last extension plus
// ".zip" (report.pdf → report.zip, a.tar.gz → a.tar.zip, photos → photos.zip).
QString proposedName(const QList<QUrl>& items);
// The folder a save panel starts in: `sourceFolder`, else the home folder.
QString startFolder(const QList<QUrl>& items);
// `startFolder` joined with `proposedName`.
QString defaultPath(const QList<QUrl>& items);

} // namespace ArchiveNaming
