#pragma once

#include "engine/JobModels.h"
#include "engine/zipwrite/CompressionOptions.h"

#include <QList>
#include <QString>

// The decisions behind the compression sheet's custom panel, kept apart
// from its widgets: what its two menus offer, which choices go together,
// the suffix an archive's name takes, and what is remembered.
namespace CompressionChoice {

using Format = CompressionOptions::Format;
using Mode = CompressionOptions::Mode;

// The format menu, in order: zip (the default), 7z, tar.zst, tar.gz, tar.xz.
QList<Format> formats();
// The mode menu for `format`, in order. "Store" only where the format can
// leave the data as it is (zip, 7z, tar.gz): zstd and xz compress even at
// their lowest level, where "store" would be "fastest" under another name.
QList<Mode> modes(Format format);
// `mode` when `format` offers it, else the nearest mode it offers.
Mode offeredMode(Format format, Mode mode);
// The key of a mode's name in the string tables.
QString modeKey(Mode mode);
// zip and 7z encrypt; tar has no encryption.
bool takesPassword(Format format);

// `path` ending in `format`'s suffix. An archive suffix of its file name
// (".zip", ".7z", ".tar", ".tar.zst", ".tar.gz", ".tar.xz", in any case) is
// replaced; any other name keeps its whole stem: "/a/Archive.zip" gives
// "/a/Archive.7z", "notes.txt" gives "notes.txt.7z". A path without a file
// name comes back as it is.
QString withSuffix(const QString& path, Format format);

// The choice the panel showed last, in this run or an earlier one; zip at
// "normal" the first time, or when what is stored makes no sense.
ZipModel::Custom remembered();
void remember(const ZipModel::Custom& choice);

} // namespace CompressionChoice
