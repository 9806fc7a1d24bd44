#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

// The pure rules for entry names and link targets: what an archive may
// name, and which links stay inside the destination. No file system is
// touched, so every back-end and the fuzzers can call them.
namespace EntryNames {

// Splits an entry name at "/" (empty and "." components dropped). No
// value for an absolute name, one with a ".." component or a NUL.
std::optional<QStringList> split(const QString& name);
// True when a link at `linkPath` pointing to `target` resolves inside the
// destination, given that no folder on the way is a link: a relative
// target whose ".." components all come first and do not climb above the
// destination. A target with a NUL never does.
bool linkStaysInside(const QStringList& linkPath, const QByteArray& target);
// The bytes the file system gets for one component.
QByteArray fsName(const QString& component);
// The process's umask, read without changing it.
mode_t umaskValue();

} // namespace EntryNames
