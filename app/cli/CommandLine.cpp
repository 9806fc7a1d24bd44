#include "app/cli/CommandLine.h"

#include <optional>

QString CommandLine::usage()
{
    return QStringLiteral("Usage:\n"
                          "  zavrin-cli extract ARCHIVE [-o DIR] [--smart] [-v] [--password-stdin] [ENTRY...]\n"
                          "  zavrin-cli list ARCHIVE [--json] [--password-stdin]\n"
                          "  zavrin-cli compress -o ARCHIVE [--format zip|7z|tar.zst|tar.gz|tar.xz] [--level 1|9]\n"
                          "                      [--password-stdin] ITEM...\n"
                          "  zavrin-cli --help | --version\n"
                          "\n"
                          "extract    unpacks an archive (zip, rar, 7z, their split sets, the tar family,\n"
                          "           .gz, .bz2, .xz, .zst) into DIR (default: the current folder), or\n"
                          "           only the ENTRY names given (a folder with all\n"
                          "           below it); existing files are never overwritten. --smart puts the\n"
                          "           entries in a new folder named after the archive when it holds more\n"
                          "           than one item at its top; -v names the existing files kept.\n"
                          "list       prints what the archive holds: type, size, packed size, time, path;\n"
                          "           --json prints the same as a JSON array.\n"
                          "compress   packs the items into a new archive (zip unless --format says otherwise);\n"
                          "           level 1 is fast, 9 is small; an existing ARCHIVE is never replaced.\n"
                          "--password-stdin  read the password from the first line of standard input.\n");
}

namespace {

Outcome usageError(const QString& message)
{
    return { .status = Outcome::Status::Usage, .message = message };
}

// The first of --help, -h and --version among the options, or none. Names
// after "--" and the values of -o and --level are not options, so a file
// called "-h" can still be packed.
std::optional<CommandLine::Command> requestedInfo(const QStringList& arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == u"--")
            break;
        if (argument == u"--help" || argument == u"-h")
            return CommandLine::Command::Help;
        if (argument == u"--version")
            return CommandLine::Command::Version;
        if (i > 0
            && (argument == u"-o" || argument == u"--output" || argument == u"--level" || argument == u"--format"))
            ++i;
    }
    return std::nullopt;
}

} // namespace

Outcome CommandLine::parse(const QStringList& arguments, CommandLine* parsed)
{
    CommandLine& line = *parsed;
    line = CommandLine();
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (const std::optional<Command> info = requestedInfo(arguments)) {
        line.command = *info;
        return {};
    }

    const QString& verb = arguments.first();
    if (verb == u"extract")
        line.command = Command::Extract;
    else if (verb == u"compress")
        line.command = Command::Compress;
    else if (verb == u"list")
        line.command = Command::List;
    else {
        return usageError(QStringLiteral("unknown command: ") + verb);
    }

    QString output;
    QStringList positional;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(u'-') || argument == u"-") {
            positional.append(argument);
        } else if (argument == u"--") {
            optionsEnded = true;
        } else if (argument == u"--password-stdin") {
            line.passwordFromStdin = true;
        } else if (argument == u"--smart" && line.command == Command::Extract) {
            line.smart = true;
        } else if ((argument == u"-v" || argument == u"--verbose") && line.command == Command::Extract) {
            line.verbose = true;
        } else if (argument == u"--json" && line.command == Command::List) {
            line.json = true;
        } else if ((argument == u"-o" || argument == u"--output") && line.command != Command::List) {
            if (++i >= arguments.size()) {
                return usageError(argument + QStringLiteral(" needs a value"));
            }
            output = arguments.at(i);
        } else if (argument == u"--level" && line.command == Command::Compress) {
            const QString value = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            if (value != u"1" && value != u"9") {
                return usageError(QStringLiteral("--level takes 1 or 9"));
            }
            line.level = value.toInt();
        } else if (argument == u"--format" && line.command == Command::Compress) {
            const QString value = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            const std::optional<CompressionOptions::Format> format = CompressionOptions::formatFromName(value);
            if (!format)
                return usageError(QStringLiteral("--format takes ") + CompressionOptions::formatNames().join(u'|'));
            line.format = *format;
        } else {
            return usageError(QStringLiteral("unknown option: ") + argument);
        }
    }

    if (line.command == Command::Extract) {
        if (positional.isEmpty())
            return usageError(QStringLiteral("extract needs an archive"));
        line.archive = positional.takeFirst();
        line.entries = positional;
        line.outputFolder = output;
    } else if (line.command == Command::List) {
        if (positional.size() != 1)
            return usageError(QStringLiteral("list takes exactly one archive"));
        line.archive = positional.first();
    } else {
        if (output.isEmpty()) {
            return usageError(QStringLiteral("compress needs -o ARCHIVE"));
        }
        if (positional.isEmpty()) {
            return usageError(QStringLiteral("compress needs at least one item"));
        }
        line.archive = output;
        line.items = positional;
    }
    return {};
}
