#pragma once

#include "platform/Outcome.h"

#include <QString>
#include <QStringList>
#include <optional>

// The parts of a split archive, found beside the part a user opened: a 7z
// set "x.7z.001", "x.7z.002", … or a zip set "x.z01", "x.z02", …, "x.zip".
// Any part names the set.
struct VolumeSet final {
    enum class Kind {
        SevenZip,
        Zip,
    };

    Kind kind = Kind::SevenZip;
    QString stem; // "x": the set's path without the suffixes
    QStringList parts; // the parts found, in order, from the first
    // The first part known to be missing (a gap, or the closing "x.zip"),
    // empty when none is.
    QString missing;

    // The set `path` belongs to; none when its name is no part of a set, or
    // (a zip) when no "x.z01" lies beside "x.zip".
    static std::optional<VolumeSet> of(const QString& path);
    // The name the part after the last one found would have.
    QString nextPart() const;
    // A failure naming the missing part.
    Outcome missingPart() const;
};
