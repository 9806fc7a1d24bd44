#pragma once

#include <QFontMetrics>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

// What a sheet acts on, in words: an archive's name and size, or the items
// to pack ("3 items", or the one item's name) and their total size.
namespace ItemSummary {

// The name that stands for `items`: the one item's name, else "N items".
QString title(const QList<QUrl>& items);
// The bytes of files under `paths`, folders walked, links not followed.
// Reads the disk: call it on a worker for anything but a single file. No
// value when none of them exists, when `stop` says so during the walk, or
// past a million files.
std::optional<qint64> totalSize(const QStringList& paths, const std::function<bool()>& stop = {});
// "12.3 MB": a size as the sheets show it.
QString formatSize(qint64 bytes);
// `text` cut in the middle to fit `width` pixels, as long file names are.
QString elided(const QString& text, const QFontMetrics& metrics, int width);

} // namespace ItemSummary
