#pragma once

#include <QLoggingCategory>
#include <QString>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcEngineTar)

// A file of the tar family as its name says: the compression, and whether a
// tar lies inside or one compressed file alone (".gz" beside ".tar.gz").
struct TarFormat final {
    enum class Compression {
        None,
        Gzip,
        Bzip2,
        Xz,
        Zstd,
        Lz4,
    };

    Compression compression = Compression::None;
    bool single = false; // one compressed file, not a tar
    QString suffix; // as matched, in lower case: ".tar.gz", ".tgz", ".gz", …

    // The format a file name asks for, by its suffix in any case; no value
    // for names of other formats.
    static std::optional<TarFormat> forPath(const QString& path);
    // The name of the one file inside a single compressed file: the
    // archive's name without the suffix ("notes.txt.gz" gives "notes.txt").
    QString singleFileName(const QString& path) const;
    // The compression as libarchive numbers its filters (ARCHIVE_FILTER_…).
    int filterCode() const;
};
