#include "engine/extract/TarFormat.h"

#include <QFileInfo>
#include <archive.h>
#include <array>

Q_LOGGING_CATEGORY(lcEngineTar, "zavrin.engine.tar")

namespace {

using Compression = TarFormat::Compression;

struct Suffix {
    const char16_t* text;
    Compression compression;
    bool single;
};

// Longer suffixes first: ".tar.gz" is a tar, ".gz" alone one file.
constexpr std::array<Suffix, 14> kSuffixes { {
    { u".tar.gz", Compression::Gzip, false },
    { u".tar.bz2", Compression::Bzip2, false },
    { u".tar.xz", Compression::Xz, false },
    { u".tar.zst", Compression::Zstd, false },
    { u".tar.lz4", Compression::Lz4, false },
    { u".tgz", Compression::Gzip, false },
    { u".tbz2", Compression::Bzip2, false },
    { u".txz", Compression::Xz, false },
    { u".tzst", Compression::Zstd, false },
    { u".tar", Compression::None, false },
    { u".gz", Compression::Gzip, true },
    { u".bz2", Compression::Bzip2, true },
    { u".xz", Compression::Xz, true },
    { u".zst", Compression::Zstd, true },
} };

} // namespace

std::optional<TarFormat> TarFormat::forPath(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    for (const Suffix& suffix : kSuffixes) {
        const QStringView text(suffix.text);
        if (name.endsWith(text, Qt::CaseInsensitive))
            return TarFormat { .compression = suffix.compression, .single = suffix.single, .suffix = text.toString() };
    }
    return std::nullopt;
}

QString TarFormat::singleFileName(const QString& path) const
{
    const QString name = QFileInfo(path).fileName();
    const QString stem = name.left(name.size() - suffix.size());
    // A name that is all suffix (".gz") leaves nothing: libarchive's own
    // name for such data.
    return stem.isEmpty() ? QStringLiteral("data") : stem;
}

int TarFormat::filterCode() const
{
    switch (compression) {
    case Compression::None:
        return ARCHIVE_FILTER_NONE;
    case Compression::Gzip:
        return ARCHIVE_FILTER_GZIP;
    case Compression::Bzip2:
        return ARCHIVE_FILTER_BZIP2;
    case Compression::Xz:
        return ARCHIVE_FILTER_XZ;
    case Compression::Zstd:
        return ARCHIVE_FILTER_ZSTD;
    case Compression::Lz4:
        return ARCHIVE_FILTER_LZ4;
    }
    return ARCHIVE_FILTER_NONE;
}
