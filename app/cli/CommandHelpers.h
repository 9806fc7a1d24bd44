#pragma once

#include "platform/Outcome.h"

#include <QByteArray>
#include <QString>

// What the commands share. Main thread only.
namespace Cli {

// The exit status of a usage error (a missing item, a taken name, …).
inline constexpr int kUsageStatus = 2;

// Prints "zavrin-cli: <message>" on standard error; returns kUsageStatus.
int usageError(const QString& message);

// `bytes` as UTF-8 text into `text`. Usage, showing the bytes, when they
// are not valid UTF-8: decoding would put the replacement character in, and
// a path or password would silently become another one.
Outcome decodeUtf8(const QByteArray& bytes, QString* text);

// The current folder, which relative paths are taken from, must have a
// UTF-8 path for the same reason; Usage when it has not.
Outcome checkCurrentFolder();

// One line of `fd` as a password into `password` (without its line break
// and a carriage return before it; possibly empty). Cancelled at the end of
// input before any character, or when an interrupt came first. Usage when
// the line holds a NUL character (tools that read it as a C string would
// take a shorter password) or is not valid UTF-8.
Outcome readPassword(int fd, QString* password);

} // namespace Cli
