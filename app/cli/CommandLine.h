#pragma once

#include "engine/zipwrite/CompressionOptions.h"
#include "platform/Outcome.h"

#include <QString>
#include <QStringList>

// What the command line of zavrin-cli asks for.
struct CommandLine final {
    enum class Command {
        Help,
        Version,
        Extract,
        Compress,
        List,
    };

    Command command = Command::Help;
    QString archive; // extract, list: the archive; compress: the archive to create (-o)
    QString outputFolder; // extract: -o DIR, empty for the current folder
    QStringList entries; // extract: only these entries (folders with all below); empty: all
    bool smart = false; // extract: a folder named after the archive when it holds several items
    bool verbose = false; // extract: name the existing files that were kept
    bool json = false; // list: JSON instead of columns
    QStringList items; // compress: the items to pack
    int level = 1; // compress: 1 or 9
    CompressionOptions::Format format = CompressionOptions::Format::Zip; // compress: --format
    bool passwordFromStdin = false;

    // Parses the arguments after the program name into `line`. A usage
    // error is Usage, with a message for the user.
    static Outcome parse(const QStringList& arguments, CommandLine* line);
    static QString usage();
};
