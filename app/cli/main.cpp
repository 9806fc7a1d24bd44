#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "app/cli/CompressCommand.h"
#include "app/cli/ExtractCommand.h"
#include "app/cli/TerminalPanels.h"
#include "app/cli/TerminalToasts.h"
#include "engine/JobStop.h"
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
    // (The extraction side still listens to JobStop.)
    Interrupts::install([](int) {
        StopToken::stopAll();
        JobStop::stopAll();
    });
    // Without TZ, glibc looks at /etc/localtime again on every local-time
    // conversion, and libzip converts the DOS time of every entry it opens.
    if (!qEnvironmentVariableIsSet("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(Bundle::organizationName());
    QCoreApplication::setApplicationName(Bundle::applicationName());
    QCoreApplication::setApplicationVersion(Bundle::shortVersion());

    CommandLine line;
    if (const Outcome parsed = CommandLine::parse(QCoreApplication::arguments().mid(1), &line); !parsed.ok()) {
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
        break;
    }

    // The toasts are the user's messages; the engine's own log stays quiet
    // unless QT_LOGGING_RULES asks for it.
    QLoggingCategory::setFilterRules(QStringLiteral("zavrin.*.info=false\nzavrin.*.debug=false"));
    TerminalToasts toasts;
    HUD::setPresenter(&toasts);
    TerminalPanels panels(line.passwordFromStdin);
    Panels::setShared(&panels);

    const int status = line.command == CommandLine::Command::Extract ? Cli::runExtract(line) : Cli::runCompress(line);
    Panels::setShared(nullptr);
    HUD::setPresenter(nullptr);
    Interrupts::disarm();
    return Interrupts::exitStatus(status);
}
