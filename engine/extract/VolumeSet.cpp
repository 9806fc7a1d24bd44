#include "engine/extract/VolumeSet.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr int kMostParts = 9999;

QString sevenZipPart(const QString& stem, int number)
{
    return stem + QStringLiteral(".7z.") + QString::number(number).rightJustified(3, u'0');
}

QString zipPart(const QString& stem, int number)
{
    return stem + QStringLiteral(".z") + QString::number(number).rightJustified(2, u'0');
}

bool exists(const QString& path)
{
    return QFileInfo(path).isFile();
}

} // namespace

std::optional<VolumeSet> VolumeSet::of(const QString& path)
{
    static const QRegularExpression sevenZip(
        QStringLiteral("^(.+)\\.7z\\.(\\d{3,})$"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression zipSplit(
        QStringLiteral("^(.+)\\.(z\\d{2,}|zip)$"), QRegularExpression::CaseInsensitiveOption);
    VolumeSet set;
    int named = 0;
    if (const QRegularExpressionMatch match = sevenZip.match(path); match.hasMatch()) {
        set.kind = Kind::SevenZip;
        set.stem = match.captured(1);
        named = match.captured(2).toInt();
        for (int n = 1; n <= kMostParts && exists(sevenZipPart(set.stem, n)); ++n)
            set.parts.append(sevenZipPart(set.stem, n));
        if (set.parts.size() < named)
            set.missing = sevenZipPart(set.stem, static_cast<int>(set.parts.size()) + 1);
        return set;
    }
    const QRegularExpressionMatch match = zipSplit.match(path);
    if (!match.hasMatch())
        return std::nullopt;
    set.kind = Kind::Zip;
    set.stem = match.captured(1);
    const QString suffix = match.captured(2).toLower();
    // "x.zip" alone is a plain archive.
    if (suffix == u"zip" && !exists(zipPart(set.stem, 1)))
        return std::nullopt;
    named = suffix == u"zip" ? 0 : suffix.mid(1).toInt();
    for (int n = 1; n <= kMostParts && exists(zipPart(set.stem, n)); ++n)
        set.parts.append(zipPart(set.stem, n));
    const QString closing = set.stem + QStringLiteral(".zip");
    if (set.parts.size() < named)
        set.missing = zipPart(set.stem, static_cast<int>(set.parts.size()) + 1);
    else if (!exists(closing))
        set.missing = closing;
    if (exists(closing))
        set.parts.append(closing);
    return set;
}

QString VolumeSet::nextPart() const
{
    const int next = static_cast<int>(parts.size()) + (kind == Kind::Zip ? 0 : 1);
    return kind == Kind::SevenZip ? sevenZipPart(stem, next) : zipPart(stem, next);
}

Outcome VolumeSet::missingPart() const
{
    const QString part = missing.isEmpty() ? nextPart() : missing;
    return { .status = Outcome::Status::MissingPart,
        .message = QStringLiteral("a part of the archive is missing: ") + QFileInfo(part).fileName() };
}
