#include "engine/extract/ArchiveFormats.h"

#include "engine/extract/RarReader.h"
#include "engine/extract/SevenZipReader.h"
#include "engine/extract/TarFormat.h"
#include "engine/extract/TarReader.h"
#include "engine/extract/VolumeSet.h"
#include "engine/extract/ZipReader.h"
#include "platform/Logging.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

template <typename Reader> std::unique_ptr<ArchiveReader> make(const QString& path)
{
    return std::make_unique<Reader>(path);
}

// libzip reads no split zip: a set ("x.z01" … "x.zip") goes to 7zz.
std::unique_ptr<ArchiveReader> makeZipReader(const QString& path)
{
    if (VolumeSet::of(path))
        return std::make_unique<SevenZipReader>(path);
    return std::make_unique<ZipReader>(path);
}

std::vector<ArchiveFormat> makeTable()
{
    std::vector<ArchiveFormat> table;
    table.push_back({ .type = QStringLiteral("zip"),
        .suffixes = { QStringLiteral("zip") },
        .makeReader = makeZipReader,
        .log = lcEngineZip,
        .stampsFolder = true });
    table.push_back({ .type = QStringLiteral("rar"),
        .suffixes = { QStringLiteral("rar") },
        .makeReader = make<RarReader>,
        .log = lcEngineRar,
        .progressLog = "RAR解压进度: %f",
        .failureLog = "RAR解压错误: " });
    table.push_back({ .type = QStringLiteral("7z"),
        .suffixes = { QStringLiteral("7z") },
        .makeReader = make<SevenZipReader>,
        .log = lcEngine7z,
        .progressLog = "7z progress: %f",
        .failureLog = "Extract error: ",
        .asksAgain = false,
        .failureCancels = true,
        .floatProgress = true });
    // The tar family, compressed or not, and single compressed files: one
    // reader, which takes the compression from the name too.
    table.push_back({ .type = QStringLiteral("tar"),
        .suffixes = { QStringLiteral("tar"), QStringLiteral("tar.gz"), QStringLiteral("tgz"), QStringLiteral("tar.bz2"),
            QStringLiteral("tbz2"), QStringLiteral("tar.xz"), QStringLiteral("txz"), QStringLiteral("tar.zst"),
            QStringLiteral("tzst"), QStringLiteral("tar.lz4"), QStringLiteral("gz"), QStringLiteral("bz2"),
            QStringLiteral("xz"), QStringLiteral("zst") },
        .makeReader = make<TarReader>,
        .log = lcEngineTar });
    return table;
}

// The suffix that selects a format: the volume number of a split set is
// not part of it ("x.7z.001" is read as "x.7z").
QString effectiveName(const QString& fileName)
{
    static const QRegularExpression volume(
        QStringLiteral("^(.+\\.7z)\\.\\d{3,}$"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression rarPart(
        QStringLiteral("^(.+)\\.part\\d+(\\.rar)$"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression zipPart(
        QStringLiteral("^(.+)\\.z\\d{2,}$"), QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch match = volume.match(fileName); match.hasMatch())
        return match.captured(1);
    if (const QRegularExpressionMatch match = rarPart.match(fileName); match.hasMatch())
        return match.captured(1) + match.captured(2);
    if (const QRegularExpressionMatch match = zipPart.match(fileName); match.hasMatch())
        return match.captured(1) + QStringLiteral(".zip");
    return fileName;
}

// The length of the suffix that selects `format` for `name` (lower case, a
// volume number left out); 0 when none does.
qsizetype matchedSuffix(const ArchiveFormat& format, const QString& name)
{
    qsizetype longest = 0;
    for (const QString& suffix : format.suffixes) {
        // The suffix follows a dot, after at least one character of name.
        if (suffix.size() > longest && name.size() > suffix.size() + 1 && name.endsWith(suffix, Qt::CaseInsensitive)
            && name.at(name.size() - suffix.size() - 1) == u'.')
            longest = suffix.size();
    }
    return longest;
}

} // namespace

namespace ArchiveFormats {

const std::vector<ArchiveFormat>& all()
{
    static const std::vector<ArchiveFormat> table = makeTable();
    return table;
}

const ArchiveFormat* forPath(const QString& path)
{
    const QString name = effectiveName(QFileInfo(path).fileName());
    const ArchiveFormat* best = nullptr;
    qsizetype bestLength = 0;
    for (const ArchiveFormat& format : all()) {
        if (const qsizetype length = matchedSuffix(format, name); length > bestLength) {
            best = &format;
            bestLength = length;
        }
    }
    return best;
}

const ArchiveFormat* forType(const QString& type)
{
    const auto& table = all();
    const auto it = std::find_if(table.cbegin(), table.cend(), [&](const ArchiveFormat& f) { return f.type == type; });
    return it == table.cend() ? nullptr : &*it;
}

QString stem(const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    const ArchiveFormat* format = forPath(path);
    if (!format)
        return fileName;
    const QString name = effectiveName(fileName);
    return name.chopped(matchedSuffix(*format, name) + 1);
}

QStringList nameFilters()
{
    QStringList filters;
    for (const ArchiveFormat& format : all()) {
        for (const QString& suffix : format.suffixes)
            filters.append(QStringLiteral("*.") + suffix);
    }
    return filters;
}

} // namespace ArchiveFormats
