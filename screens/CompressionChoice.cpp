#include "screens/CompressionChoice.h"

#include "platform/Defaults.h"

#include <array>
#include <utility>

namespace {

const QString kFormatKey = QStringLiteral("ZipController.customFormat");
const QString kModeKey = QStringLiteral("ZipController.customMode");

using Mode = CompressionOptions::Mode;

// Each mode with the name it is stored under and the key of its menu text.
constexpr std::array<std::pair<Mode, const char16_t*>, 4> kModeNames { {
    { Mode::Store, u"store" },
    { Mode::Fastest, u"fastest" },
    { Mode::Normal, u"normal" },
    { Mode::Maximum, u"maximum" },
} };

// Longest first, so that "a.tar.gz" loses ".tar.gz" rather than ".gz".
const std::array<QString, 6> kArchiveSuffixes { QStringLiteral(".tar.zst"), QStringLiteral(".tar.gz"),
    QStringLiteral(".tar.xz"), QStringLiteral(".tar"), QStringLiteral(".zip"), QStringLiteral(".7z") };

QString stem(const QString& name)
{
    for (const QString& suffix : kArchiveSuffixes) {
        // A name that is nothing but a suffix (".zip") is a hidden file's whole name.
        if (name.size() > suffix.size() && name.endsWith(suffix, Qt::CaseInsensitive))
            return name.chopped(suffix.size());
    }
    return name;
}

} // namespace

namespace CompressionChoice {

QList<Format> formats()
{
    return { Format::Zip, Format::SevenZip, Format::TarZst, Format::TarGz, Format::TarXz };
}

QList<Mode> modes(Format format)
{
    if (format == Format::TarZst || format == Format::TarXz)
        return { Mode::Fastest, Mode::Normal, Mode::Maximum };
    return { Mode::Store, Mode::Fastest, Mode::Normal, Mode::Maximum };
}

Mode offeredMode(Format format, Mode mode)
{
    // Only "store" can be missing, and "fastest" is the nearest to it.
    return modes(format).contains(mode) ? mode : Mode::Fastest;
}

QString modeKey(Mode mode)
{
    switch (mode) {
    case Mode::Store:
        return QStringLiteral("仅存储");
    case Mode::Fastest:
        return QStringLiteral("最快压缩");
    case Mode::Normal:
        return QStringLiteral("标准压缩");
    case Mode::Maximum:
        return QStringLiteral("最大压缩");
    }
    return QStringLiteral("标准压缩");
}

bool takesPassword(Format format)
{
    return !CompressionOptions::isTar(format);
}

QString withSuffix(const QString& path, Format format)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (name.isEmpty())
        return path;
    return path.left(slash + 1) + stem(name) + u'.' + CompressionOptions::formatName(format);
}

ZipModel::Custom remembered()
{
    ZipModel::Custom choice;
    Defaults& defaults = Defaults::standard();
    if (const auto format = CompressionOptions::formatFromName(defaults.stringForKey(kFormatKey)))
        choice.format = *format;
    const QString mode = defaults.stringForKey(kModeKey);
    for (const auto& [value, name] : kModeNames) {
        if (mode == QStringView(name))
            choice.mode = offeredMode(choice.format, value);
    }
    return choice;
}

void remember(const ZipModel::Custom& choice)
{
    Defaults& defaults = Defaults::standard();
    defaults.setValue(kFormatKey, CompressionOptions::formatName(choice.format));
    for (const auto& [value, name] : kModeNames) {
        if (value == choice.mode)
            defaults.setValue(kModeKey, QString::fromUtf16(name));
    }
}

} // namespace CompressionChoice
