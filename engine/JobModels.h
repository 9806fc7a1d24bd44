#pragma once

#include "engine/ExtractionJob.h"
#include "engine/zipwrite/CompressionOptions.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// Describes an extraction job; the base of ZipModel.
//  - paths: extraction, exactly one element, the archive's absolute path;
//    compression, the chosen items in the order they were picked or dropped.
//  - savePath: extraction, the folder to extract into; compression, the
//    archive file to create.
//  - options: extraction, what was chosen beyond the folder (entries, a
//    known password, a folder named after the archive); none set, the
//    plain extraction.
class UnzipModel {
public:
    virtual ~UnzipModel() = default;

    QStringList paths;
    QString savePath;
    ExtractOptions options;

    // The one path string that identifies the job in every notification.
    virtual QString jobKey() const { return paths.value(0); }
    virtual bool isZip() const { return false; }
    bool hasOptions() const { return options.selection || options.password || options.ownFolder; }
};

// Describes a compression job. The speed and size options make zip at
// `level` through ZipManager::zipFileAtPath; the custom option makes the
// format and mode of `custom` through ZipManager::compressFiles.
class ZipModel final : public UnzipModel {
public:
    // What the custom option chose.
    struct Custom final {
        CompressionOptions::Format format = CompressionOptions::Format::Zip;
        CompressionOptions::Mode mode = CompressionOptions::Mode::Normal;
        bool operator==(const Custom&) const = default;
    };

    std::int64_t type = 0; // archive format, typeOf(format): 0 is zip
    std::uint64_t level = 1; // 9 for the small-size option, 1 otherwise
    std::optional<QString> password; // no value: no encryption; never empty
    std::optional<Custom> custom; // no value: the speed or size option

    QString jobKey() const override { return savePath; }
    bool isZip() const override { return true; }
    // The engine is asked for speed exactly when the level is below 2.
    bool needSpeed() const { return level < 2; }
    // What compressFiles is given for a custom job: `custom` and `password`.
    CompressionOptions compressionOptions() const
    {
        const Custom choice = custom.value_or(Custom {});
        return { .format = choice.format, .mode = choice.mode, .password = password };
    }
    // The number `type` holds for `format`: its place among the formats,
    // zip first.
    static std::int64_t typeOf(CompressionOptions::Format format) { return static_cast<std::int64_t>(format); }
};

// One item handed to the compression engine. Size and date are read from
// the file system on every access.
class FileModel final {
public:
    FileModel() = default;
    explicit FileModel(QString itemPath)
        : path(std::move(itemPath))
    {
    }

    QString path;
    bool isDirectory = false;

    // Size of the item's own directory entry; 0 when unreadable or missing.
    std::uint64_t size() const;
    // Modification date; no value when the item cannot be read.
    std::optional<QDateTime> date() const;
};
