#pragma once

#include "platform/Outcome.h"

#include <QString>
#include <QtGlobal>
#include <vector>
#include <zip.h>

// A zip archive's central directory, opened through libzip one slice at a
// time so that libzip never holds the records of more entries than a slice.
// libzip stays the parser: each slice is opened with zip_open over a view of
// the archive whose end record names only that slice. Local headers and data
// keep their offsets, so entries read as from the whole archive. A directory
// that fits one slice, or one whose end record libzip could pick otherwise,
// is opened as the plain archive, whole. One thread at a time.
class ZipDirectory final {
public:
    // Finds and checks the end records; opens the plain archive at once when
    // it is not sliced. `sliceEntries` (at least 1) is the most entries one
    // slice holds.
    explicit ZipDirectory(const QString& path, qint64 sliceEntries);
    ~ZipDirectory();
    ZipDirectory(const ZipDirectory&) = delete;
    ZipDirectory& operator=(const ZipDirectory&) = delete;

    // False, with failure() set, when the archive could not be opened.
    bool isOpen() const { return m_error.isEmpty(); }
    // Why the archive or a slice could not be opened: NotAnArchive,
    // Damaged, NoPermission or Failed.
    Outcome failure() const { return { .status = m_status, .message = m_error }; }

    int sliceCount() const { return static_cast<int>(m_slices.size()); }
    // libzip's handle on slice `slice`, whose entry indices start at 0; it
    // stays valid until another slice is opened. Null, with failure() set,
    // when libzip refuses the slice.
    zip_t* open(int slice);

private:
    struct Slice {
        quint64 offset = 0; // of its first central record
        quint64 size = 0; // of its central records
        quint64 entries = 0;
    };
    // A central directory as an end record names it, with its records
    // counted and cut into slices.
    struct Candidate {
        quint64 offset = 0;
        quint64 size = 0;
        quint64 declared = 0; // the entry count the end record gives
        bool zip64 = false;
        quint64 entries = 0;
        std::vector<Slice> slices;
    };
    class View;

    std::vector<Candidate> candidates(qint64 sliceEntries) const;
    bool walk(Candidate& candidate, qint64 sliceEntries) const;
    QByteArray tail(const Slice& slice) const;
    void close();
    void setError(zip_error_t* error);

    int m_fd = -1;
    quint64 m_length = 0;
    bool m_plain = true; // the archive as it is, one slice
    bool m_zip64 = false;
    std::vector<Slice> m_slices;
    int m_current = -1;
    zip_t* m_zip = nullptr;
    QString m_error;
    Outcome::Status m_status = Outcome::Status::Failed;
};
