#include "app/cli/CommandLine.h"

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  zavrin-cli extract ARCHIVE [-o DIR] [--password-stdin]\n"
        "  zavrin-cli compress -o ARCHIVE.zip [--level 1|9] [--password-stdin] ITEM...\n"
        "  zavrin-cli --help | --version\n"
        "\n"
        "extract    unpacks a zip, rar or 7z archive into DIR (default: the current folder);\n"
        "           existing files are never overwritten.\n"
        "compress   packs the items into a new zip archive; level 1 is fast, 9 is small.\n"
        "--password-stdin  read the password from the first line of standard input.\n");
}

namespace {

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
        if (i > 0 && (argument == u"-o" || argument == u"--output" || argument == u"--level"))
            ++i;
    }
    return std::nullopt;
}

} // namespace

std::optional<CommandLine> CommandLine::parse(const QStringList& arguments, QString* error)
{
    CommandLine line;
    if (arguments.isEmpty())
        return line;
    if (const std::optional<Command> info = requestedInfo(arguments)) {
        line.command = *info;
        return line;
    }

    const QString& verb = arguments.first();
    if (verb == u"extract")
        line.command = Command::Extract;
    else if (verb == u"compress")
        line.command = Command::Compress;
    else {
        *error = QStringLiteral("unknown command: ") + verb;
        return std::nullopt;
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
        } else if (argument == u"-o" || argument == u"--output") {
            if (++i >= arguments.size()) {
                *error = argument + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            output = arguments.at(i);
        } else if (argument == u"--level" && line.command == Command::Compress) {
            const QString value = i + 1 < arguments.size() ? arguments.at(++i) : QString();
            if (value != u"1" && value != u"9") {
                *error = QStringLiteral("--level takes 1 or 9");
                return std::nullopt;
            }
            line.level = value.toInt();
        } else {
            *error = QStringLiteral("unknown option: ") + argument;
            return std::nullopt;
        }
    }

    if (line.command == Command::Extract) {
        if (positional.size() != 1) {
            *error = QStringLiteral("extract takes exactly one archive");
            return std::nullopt;
        }
        line.archive = positional.first();
        line.outputFolder = output;
    } else {
        if (output.isEmpty()) {
            *error = QStringLiteral("compress needs -o ARCHIVE.zip");
            return std::nullopt;
        }
        if (positional.isEmpty()) {
            *error = QStringLiteral("compress needs at least one item");
            return std::nullopt;
        }
        line.archive = output;
        line.items = positional;
    }
    return line;
}
