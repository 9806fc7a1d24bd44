#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "app/cli/CompressCommand.h"
#include "app/cli/ExtractCommand.h"
#include "app/cli/ListCommand.h"
#include "app/cli/TerminalPanels.h"
#include "app/cli/TerminalToasts.h"
#include "engine/StopToken.h"
#include "platform/Bundle.h"
#include "platform/HUD.h"
#include "platform/Interrupts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <cstdio>

int main(int argc, char* argv[])
{
    // Before any thread exists, so that every thread inherits the mask. A
    // signal stops the job, which removes what it has not completed.
    Interrupts::install([](int) { StopToken::stopAll(); });
    // Without TZ, glibc looks at /etc/localtime again on every local-time
    // conversion, and libzip converts the DOS time of every entry it opens.
    if (!qEnvironmentVariableIsSet("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(Bundle::organizationName());
    QCoreApplication::setApplicationName(Bundle::applicationName());
    QCoreApplication::setApplicationVersion(Bundle::shortVersion());

    // From argv itself: QCoreApplication::arguments() would turn bytes that
    // are not UTF-8 into replacement characters, and so into another path.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        QString argument;
        if (const Outcome decoded = Cli::decodeUtf8(QByteArray(argv[i]), &argument); !decoded.ok())
            return Cli::usageError(decoded.message);
        arguments.append(argument);
    }
    CommandLine line;
    if (const Outcome parsed = CommandLine::parse(arguments, &line); !parsed.ok()) {
        Cli::usageError(parsed.message);
        std::fprintf(stderr, "\n%s", qUtf8Printable(CommandLine::usage()));
        return Cli::kUsageStatus;
    }
    switch (line.command) {
    case CommandLine::Command::Help:
        std::fputs(qUtf8Printable(CommandLine::usage()), stdout);
        return 0;
    case CommandLine::Command::Version:
        std::printf("zavrin-cli %s (build %s)\n", qUtf8Printable(Bundle::shortVersion()),
            qUtf8Printable(Bundle::buildVersion()));
        return 0;
    case CommandLine::Command::Extract:
    case CommandLine::Command::Compress:
    case CommandLine::Command::List:
        break;
    }

    // The toasts are the user's messages; the engine's own log stays quiet
    // unless QT_LOGGING_RULES asks for it.
    QLoggingCategory::setFilterRules(QStringLiteral("zavrin.*.info=false\nzavrin.*.debug=false"));
    TerminalToasts toasts;
    HUD::setPresenter(&toasts);
    TerminalPanels panels(line.passwordFromStdin);
    Panels::setShared(&panels);

    int status = Cli::kUsageStatus;
    if (const Outcome folder = Cli::checkCurrentFolder(); !folder.ok())
        Cli::usageError(folder.message);
    else
        status = line.command == CommandLine::Command::Extract ? Cli::runExtract(line)
            : line.command == CommandLine::Command::List       ? Cli::runList(line)
                                                               : Cli::runCompress(line);
    // A password that could not be used is the command line's fault too.
    if (panels.refusal().status == Outcome::Status::Usage && status != 0)
        status = Cli::kUsageStatus;
    Panels::setShared(nullptr);
    HUD::setPresenter(nullptr);
    Interrupts::disarm();
    return Interrupts::exitStatus(status);
}
