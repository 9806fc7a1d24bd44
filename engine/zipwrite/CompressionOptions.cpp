#include "engine/zipwrite/CompressionOptions.h"

#include <array>
#include <utility>

namespace {

using Format = CompressionOptions::Format;

constexpr std::array<std::pair<Format, const char16_t*>, 5> kNames { {
    { Format::Zip, u"zip" },
    { Format::SevenZip, u"7z" },
    { Format::TarZst, u"tar.zst" },
    { Format::TarGz, u"tar.gz" },
    { Format::TarXz, u"tar.xz" },
} };

} // namespace

QString CompressionOptions::formatName(Format format)
{
    for (const auto& [value, name] : kNames) {
        if (value == format)
            return QString::fromUtf16(name);
    }
    return QStringLiteral("zip");
}

std::optional<CompressionOptions::Format> CompressionOptions::formatFromName(const QString& name)
{
    for (const auto& [value, text] : kNames) {
        if (name == QStringView(text))
            return value;
    }
    return std::nullopt;
}

QStringList CompressionOptions::formatNames()
{
    QStringList names;
    for (const auto& [value, name] : kNames)
        names.append(QString::fromUtf16(name));
    return names;
}
