#include "engine/zipwrite/ArchiveWriter.h"

#include "engine/zipwrite/SevenZipWriter.h"
#include "engine/zipwrite/TarWriter.h"

#include <array>

namespace {

using Format = CompressionOptions::Format;

TarWriter::Compressor compressor(Format format)
{
    return format == Format::TarGz ? TarWriter::Compressor::Gzip
        : format == Format::TarXz  ? TarWriter::Compressor::Xz
                                   : TarWriter::Compressor::Zstd;
}

} // namespace

int ArchiveWriter::level(Format format, CompressionOptions::Mode mode)
{
    // Store, fastest, normal, maximum.
    using Levels = std::array<int, 4>;
    Levels levels { 0, 1, 6, 9 }; // zip's deflate and gzip
    if (format == Format::SevenZip)
        levels = { 0, 1, 5, 9 };
    else if (format == Format::TarZst)
        levels = { 1, 1, 3, 19 };
    else if (format == Format::TarXz)
        levels = { 0, 0, 6, 9 };
    return levels[static_cast<std::size_t>(mode)];
}

Outcome ArchiveWriter::check(const CompressionOptions& options)
{
    if (!options.password)
        return {};
    if (options.password->contains(QChar(u'\0')))
        return ZipWriter::passwordWithNul();
    if (CompressionOptions::isTar(options.format))
        return { .status = Outcome::Status::Unsupported,
            .message = CompressionOptions::formatName(options.format)
                + QStringLiteral(" archives cannot be encrypted; choose zip or 7z for a password") };
    // 7zz reads the password as one line.
    if (options.format == Format::SevenZip && (options.password->contains(u'\n') || options.password->contains(u'\r')))
        return { .status = Outcome::Status::Unsupported,
            .message = QStringLiteral("a 7z password cannot hold a line break") };
    return {};
}

Outcome ArchiveWriter::write(const Request& request, const std::vector<ZipItem>& items,
    const std::vector<ZipEntry>& entries, const ZipWriter::ProgressHandler& progressHandler)
{
    const CompressionOptions& options = request.options;
    if (Outcome refused = check(options); !refused.ok())
        return refused;
    const int compressionLevel = level(options.format, options.mode);
    switch (options.format) {
    case Format::Zip: {
        ZipWriter::Options zip;
        zip.compressionLevel = compressionLevel;
        zip.password = options.password;
        zip.replaceExisting = request.replaceExisting;
        zip.stop = request.stop;
        return ZipWriter::write(request.path, entries, zip, progressHandler);
    }
    case Format::SevenZip: {
        SevenZipWriter::Options sevenZip;
        sevenZip.level = compressionLevel;
        sevenZip.password = options.password;
        sevenZip.stop = request.stop;
        return SevenZipWriter::write(request.path, items, entries, sevenZip, progressHandler);
    }
    case Format::TarZst:
    case Format::TarGz:
    case Format::TarXz:
        break;
    }
    TarWriter::Options tar;
    tar.compressor = compressor(options.format);
    tar.level = compressionLevel;
    tar.stop = request.stop;
    return TarWriter::write(request.path, entries, tar, progressHandler);
}
