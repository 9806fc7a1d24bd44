#pragma once

#include <QString>

// libunrar reports the end of a cut-off archive as its regular end, so a
// truncated archive would pass for a complete one. This walks the block
// chain of an archive whose headers are readable (RAR4 or RAR5, not
// header-encrypted) and tells whether it ends where its blocks say it does.
class RarStructure final {
public:
    enum class Ending {
        Complete,
        Truncated,
        Unknown, // encrypted headers or not a format this understands
    };
    static Ending check(const QString& path);
};
