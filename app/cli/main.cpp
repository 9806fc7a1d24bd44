#include "app/cli/CommandLine.h"
#include "platform/Bundle.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(Bundle::organizationName());
    QCoreApplication::setApplicationName(Bundle::applicationName());
    QCoreApplication::setApplicationVersion(Bundle::shortVersion());

    QString error;
    const auto line = CommandLine::parse(QCoreApplication::arguments().mid(1), &error);
    if (!line) {
        std::fprintf(stderr, "zavrin-cli: %s\n\n%s", qUtf8Printable(error), qUtf8Printable(CommandLine::usage()));
        return 2;
    }
    switch (line->command) {
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
    std::fputs("zavrin-cli: this command is not available in this build\n", stderr);
    return 2;
}
