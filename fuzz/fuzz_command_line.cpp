// zavrin-cli's argument parser. The input is a name, then the argument list,
// all NUL separated, as bytes: an argument that is not UTF-8 must be refused
// with a reason, and any other must decode to exactly its bytes. A parsed
// job must come out the same when written back in canonical form, and a
// name after "--" is always a name, never an option: it is the archive of
// "extract -- NAME" and the last item when appended to a compression. A
// refusal must say why.
#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "fuzz/FuzzSupport.h"

namespace {

QStringList canonical(const CommandLine& line)
{
    QStringList arguments;
    if (line.command == CommandLine::Command::Extract) {
        arguments << QStringLiteral("extract");
        if (!line.outputFolder.isEmpty())
            arguments << QStringLiteral("-o") << line.outputFolder;
    } else {
        arguments << QStringLiteral("compress") << QStringLiteral("-o") << line.archive << QStringLiteral("--level")
                  << QString::number(line.level) << QStringLiteral("--format")
                  << CompressionOptions::formatName(line.format);
    }
    if (line.passwordFromStdin)
        arguments << QStringLiteral("--password-stdin");
    arguments << QStringLiteral("--");
    if (line.command == CommandLine::Command::Extract)
        arguments << line.archive;
    else
        arguments << line.items;
    return arguments;
}

bool same(const CommandLine& a, const CommandLine& b)
{
    return a.command == b.command && a.archive == b.archive && a.outputFolder == b.outputFolder && a.items == b.items
        && a.level == b.level && a.format == b.format && a.passwordFromStdin == b.passwordFromStdin;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QStringList arguments;
    for (const QByteArray& argument :
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0')) {
        QString text;
        const Outcome decoded = Cli::decodeUtf8(argument, &text);
        if (!decoded.ok()) {
            FUZZ_CHECK(decoded.status == Outcome::Status::Usage && !decoded.message.isEmpty(),
                "an argument that is not UTF-8 was refused without a reason");
            return 0;
        }
        FUZZ_CHECK(text.toUtf8() == argument, "an argument decoded to other bytes");
        arguments.append(text);
    }
    const QString name = arguments.takeFirst();
    CommandLine named;
    FUZZ_CHECK(CommandLine::parse({ QStringLiteral("extract"), QStringLiteral("--"), name }, &named).ok()
            && named.command == CommandLine::Command::Extract && named.archive == name,
        "extract -- %s is not an extraction of it", qUtf8Printable(name));

    CommandLine line;
    if (const Outcome parsed = CommandLine::parse(arguments, &line); !parsed.ok()) {
        FUZZ_CHECK(parsed.status == Outcome::Status::Usage && !parsed.message.isEmpty(), "refused without a reason");
        return 0;
    }
    if (line.command == CommandLine::Command::Help || line.command == CommandLine::Command::Version)
        return 0;

    FUZZ_CHECK(arguments.contains(line.archive), "the archive is not one of the arguments");
    for (const QString& item : line.items)
        FUZZ_CHECK(arguments.contains(item), "an item is not one of the arguments");
    if (line.command == CommandLine::Command::Compress)
        FUZZ_CHECK(!line.archive.isEmpty() && !line.items.isEmpty() && (line.level == 1 || line.level == 9),
            "an incomplete compression was accepted");
    if (line.command == CommandLine::Command::Compress) {
        CommandLine more;
        FUZZ_CHECK(CommandLine::parse(arguments + QStringList { QStringLiteral("--"), name }, &more).ok()
                && more.command == CommandLine::Command::Compress && more.items.endsWith(name),
            "%s after -- is not packed", qUtf8Printable(name));
    }
    CommandLine reparsed;
    FUZZ_CHECK(CommandLine::parse(canonical(line), &reparsed).ok() && same(line, reparsed),
        "the canonical form of a job reads differently: %s", qUtf8Printable(canonical(line).join(u' ')));
    return 0;
}
