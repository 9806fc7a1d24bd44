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
    };

    Command command = Command::Help;
    QString archive; // extract: the archive; compress: the archive to create (-o)
    QString outputFolder; // extract: -o DIR, empty for the current folder
    QStringList items; // compress: the items to pack
    int level = 1; // compress: 1 or 9
    CompressionOptions::Format format = CompressionOptions::Format::Zip; // compress: --format
    bool passwordFromStdin = false;

    // Parses the arguments after the program name into `line`. A usage
    // error is Usage, with a message for the user.
    static Outcome parse(const QStringList& arguments, CommandLine* line);
    static QString usage();
};
