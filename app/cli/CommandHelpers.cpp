#include "app/cli/CommandHelpers.h"

#include "platform/Interrupts.h"

#include <cstdio>

namespace Cli {

int usageError(const QString& message)
{
    std::fprintf(stderr, "zavrin-cli: %s\n", qUtf8Printable(message));
    return kUsageStatus;
}

std::optional<QString> readLine(int fd)
{
    std::optional<QByteArray> line = Interrupts::readLine(fd);
    if (!line)
        return std::nullopt;
    if (line->endsWith('\r'))
        line->chop(1);
    return QString::fromUtf8(*line);
}

} // namespace Cli
