#include "engine/safety/EntryNames.h"

#include "platform/FileNames.h"

#include <QFile>

namespace EntryNames {

std::optional<QStringList> split(const QString& name)
{
    // The system reads a name only up to a NUL: what follows would escape the checks.
    if (name.startsWith(u'/') || name.contains(QChar(u'\0')))
        return std::nullopt;
    QStringList components;
    for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"..")
            return std::nullopt;
        if (part != u".")
            components.append(part);
    }
    return components;
}

bool linkStaysInside(const QStringList& linkPath, const QByteArray& target)
{
    // symlink(2) stops at a NUL, so "..\0x" would be checked as a name and
    // created as "..": refuse anything the system would read otherwise.
    if (target.isEmpty() || target.startsWith('/') || target.contains('\0') || linkPath.isEmpty())
        return false;
    // Leading ".." components climb real folders (no folder on the way is a
    // link), so counting them is exact. A ".." after a name could climb out
    // of a linked folder, so it is refused.
    qsizetype depth = linkPath.size() - 1;
    bool descended = false;
    for (const QByteArray& part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (descended || depth == 0)
                return false;
            --depth;
        } else {
            descended = true;
        }
    }
    return true;
}

QByteArray fsName(const QString& component)
{
    // Lossless for names read as bytes (FileNames), UTF-8 for all others.
    return FileNames::encode(component);
}

mode_t umaskValue()
{
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return static_cast<mode_t>(value & 0777);
                }
            }
        }
        return static_cast<mode_t>(022);
    }();
    return mask;
}

} // namespace EntryNames
