#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line of zavrin-cli asks for.
struct CommandLine final {
    enum class Command {
        Help,
        Version,
        Extract,
        Compress,
    };

    Command command = Command::Help;
    QString archive;        // extract: the archive; compress: the archive to create (-o)
    QString outputFolder;   // extract: -o DIR, empty for the current folder
    QStringList items;      // compress: the items to pack
    int level = 1;          // compress: 1 or 9
    bool passwordFromStdin = false;

    // Parses the arguments after the program name. On a usage error answers
    // no value and sets `error` to a message for the user.
    static std::optional<CommandLine> parse(const QStringList& arguments, QString* error);
    static QString usage();
};
