#pragma once

#include <QString>
#include <optional>

// What the commands share. Main thread only.
namespace Cli {

// The exit status of a usage error (a missing item, a taken name, …).
inline constexpr int kUsageStatus = 2;

// Prints "zavrin-cli: <message>" on standard error; returns kUsageStatus.
int usageError(const QString& message);

// One line of `fd` without its line break (and a carriage return before
// it), as UTF-8. None at the end of input, or when an interrupt came first.
std::optional<QString> readLine(int fd);

} // namespace Cli
