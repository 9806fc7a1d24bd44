#pragma once

#include "engine/extract/ArchiveReader.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <vector>

// What an archive holds, kept compact for archives of millions of entries:
// one block of UTF-8 names and a small record per entry, in listing order
// (the order selections are made in). Filled on a worker, then read-only
// and shared with the main thread.
class ArchiveListing final {
public:
    void append(const ArchiveEntry& entry);
    void reserve(qsizetype entries);

    qsizetype size() const { return static_cast<qsizetype>(m_records.size()); }
    QString path(qsizetype i) const;
    // The path's bytes as UTF-8, without a copy while the listing lives.
    QByteArrayView pathBytes(qsizetype i) const;
    ArchiveEntry::Kind kind(qsizetype i) const { return static_cast<ArchiveEntry::Kind>(record(i).kind); }
    qint64 size(qsizetype i) const { return record(i).size; }
    qint64 packedSize(qsizetype i) const { return record(i).packedSize; }
    // Seconds since the epoch; no value when the archive gives no time.
    std::optional<qint64> modified(qsizetype i) const;
    bool encrypted(qsizetype i) const { return record(i).encrypted; }

    // Whether the archive needs a password to be extracted.
    bool needsPassword = false;
    // The password that opened the listing, when one was needed.
    std::optional<QString> password;

private:
    struct Record {
        quint64 nameOffset = 0;
        quint32 nameLength = 0;
        quint8 kind = 0;
        bool encrypted = false;
        bool hasTime = false;
        qint64 size = -1;
        qint64 packedSize = -1;
        qint64 mtime = 0;
    };
    const Record& record(qsizetype i) const { return m_records[static_cast<std::size_t>(i)]; }

    QByteArray m_names;
    std::vector<Record> m_records;
};
