#pragma once

#include "engine/extract/ArchiveReader.h"

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

// One archive format the extraction engine reads: the file-name suffixes
// that select it, the reader that reads it and how its jobs report. A new
// format is one reader class and one row of ArchiveFormats::all().
struct ArchiveFormat final {
    using LogCategory = const QLoggingCategory& (*)();

    // The format's word: the password sheet's type ("zip", "rar", "7z").
    QString type;
    // Lower-case suffixes without the leading dot; double ones ("tar.gz")
    // are matched before single ones.
    QStringList suffixes;
    std::unique_ptr<ArchiveReader> (*makeReader)(const QString& path);
    LogCategory log;

    // How a job of this format reports. The defaults are zip's and rar's.
    const char* progressLog = "解压进度: %f";
    // Prefix of the log line of a failure ("RAR解压错误: ").
    const char* failureLog = "";
    // A wrong password shows the sheet again; otherwise it fails the job.
    bool asksAgain = true;
    // A failure posts "NotifyManager.ProcessCancel" at once and the error
    // toast 0.3 s later (7z).
    bool failureCancels = false;
    // Progress values travel as single-precision floats (7z).
    bool floatProgress = false;
    // The destination folder takes the time the job completed (zip).
    bool stampsFolder = false;
};

namespace ArchiveFormats {

// Every format, in the order of the table.
const std::vector<ArchiveFormat>& all();
// The format of a file by its name: suffixes compared in lower case, the
// longest first, volume names ("x.7z.001", "x.part2.rar", "x.z01") as
// their set's format. None for any other name.
const ArchiveFormat* forPath(const QString& path);
const ArchiveFormat* forType(const QString& type);
// The archive's file name without what selected its format: "a.tar.zip"
// gives "a.tar", "b.part1.rar" and "c.7z.001" give "b" and "c". The file
// name itself for a name no format selects.
QString stem(const QString& path);
// "*.zip *.rar …" for file panels.
QStringList nameFilters();

} // namespace ArchiveFormats
