#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What a compression job makes: the format, how hard it compresses, and
// the password, if any. The zip entry of ZipManager is zip at "fastest" or
// "maximum"; the command line and the custom panel choose any of these.
struct CompressionOptions final {
    enum class Format {
        Zip,
        SevenZip,
        TarZst,
        TarGz,
        TarXz,
    };
    enum class Mode {
        Store, // no compression where the format allows it, else its fastest
        Fastest,
        Normal,
        Maximum,
    };

    Format format = Format::Zip;
    Mode mode = Mode::Normal;
    std::optional<QString> password; // no value: none; zip and 7z only

    // The format's name as the command line takes it and its file names end
    // ("zip", "7z", "tar.zst", "tar.gz", "tar.xz").
    static QString formatName(Format format);
    static std::optional<Format> formatFromName(const QString& name);
    static QStringList formatNames();
    static bool isTar(Format format)
    {
        return format == Format::TarZst || format == Format::TarGz || format == Format::TarXz;
    }
};
