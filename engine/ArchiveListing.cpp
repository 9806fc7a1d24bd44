#include "engine/ArchiveListing.h"

void ArchiveListing::reserve(qsizetype entries)
{
    m_records.reserve(static_cast<std::size_t>(entries));
}

void ArchiveListing::append(const ArchiveEntry& entry)
{
    const QByteArray name = entry.path.toUtf8();
    Record record;
    record.nameOffset = static_cast<quint64>(m_names.size());
    record.nameLength = static_cast<quint32>(name.size());
    record.kind = static_cast<quint8>(entry.kind);
    record.encrypted = entry.encrypted;
    record.size = entry.size;
    record.packedSize = entry.packedSize;
    record.hasTime = entry.mtime.has_value();
    record.mtime = entry.mtime ? entry.mtime->tv_sec : 0;
    m_names += name;
    m_records.push_back(record);
}

QByteArrayView ArchiveListing::pathBytes(qsizetype i) const
{
    const Record& record = m_records[static_cast<std::size_t>(i)];
    return QByteArrayView(m_names.constData() + record.nameOffset, record.nameLength);
}

QString ArchiveListing::path(qsizetype i) const
{
    return QString::fromUtf8(pathBytes(i));
}

std::optional<qint64> ArchiveListing::modified(qsizetype i) const
{
    const Record& record = m_records[static_cast<std::size_t>(i)];
    return record.hasTime ? std::optional<qint64>(record.mtime) : std::nullopt;
}
