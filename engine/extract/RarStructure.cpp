#include "engine/extract/RarStructure.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <optional>
#include <unistd.h>

namespace {

const QByteArray kRar4Signature("Rar!\x1a\x07\x00", 7);
const QByteArray kRar5Signature("Rar!\x1a\x07\x01\x00", 8);
constexpr qint64 kSfxSearch = 1 << 20;
// End blocks as RAR writes them: CRC32, size 3, type 5, flags 4, end flags
// (1: more volumes follow); RAR4: CRC16, type 0x7B, flags 0x4000, size 7.
const QByteArray kRar5End("\x1d\x77\x56\x51\x03\x05\x04\x00", 8);
const QByteArray kRar5VolumeEnd("\x8b\x47\x51\x26\x03\x05\x04\x01", 8);
const QByteArray kRar4End("\xc4\x3d\x7b\x00\x40\x07\x00", 7);

// Positioned reads without seeking, one system call each.
class Reader final {
public:
    Reader(int fd, qint64 size)
        : m_fd(fd)
        , m_size(size)
    {
    }
    std::optional<QByteArray> at(qint64 pos, qint64 size) const
    {
        if (pos < 0 || size < 0 || pos + size > m_size)
            return std::nullopt;
        QByteArray bytes(size, Qt::Uninitialized);
        if (::pread(m_fd, bytes.data(), static_cast<size_t>(size), pos) != size)
            return std::nullopt;
        return bytes;
    }

private:
    int m_fd;
    qint64 m_size;
};

quint64 le(const QByteArray& bytes, qsizetype pos, int size)
{
    quint64 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(pos + i));
    return value;
}

// RAR5 variable-length integer at `pos`; advances it.
std::optional<quint64> vint(const QByteArray& bytes, qsizetype& pos)
{
    quint64 value = 0;
    for (int shift = 0; shift < 64 && pos < bytes.size(); shift += 7) {
        const auto byte = static_cast<unsigned char>(bytes.at(pos++));
        value |= static_cast<quint64>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
    return std::nullopt;
}

RarStructure::Ending walkRar5(const Reader& reader, qint64 pos, qint64 end)
{
    constexpr quint64 kCryptHeader = 4, kEndHeader = 5;
    while (pos < end) {
        // CRC32, header size (at most 3 bytes for real headers), then the header.
        const std::optional<QByteArray> head = reader.at(pos, std::min<qint64>(16, end - pos));
        if (!head)
            return RarStructure::Ending::Truncated;
        qsizetype p = 4;
        const std::optional<quint64> size = vint(*head, p);
        if (!size || *size == 0 || *size > (1u << 21))
            return RarStructure::Ending::Truncated;
        const qint64 headerStart = pos + p;
        const std::optional<QByteArray> header = reader.at(headerStart, static_cast<qint64>(*size));
        if (!header)
            return RarStructure::Ending::Truncated;
        qsizetype q = 0;
        const auto type = vint(*header, q);
        const auto flags = vint(*header, q);
        if (!type || !flags)
            return RarStructure::Ending::Truncated;
        if (*flags & 1 && !vint(*header, q))
            return RarStructure::Ending::Truncated;
        quint64 dataSize = 0;
        if (*flags & 2) {
            const auto data = vint(*header, q);
            if (!data)
                return RarStructure::Ending::Truncated;
            dataSize = *data;
        }
        if (*type == kCryptHeader)
            return RarStructure::Ending::Unknown;
        if (*type == kEndHeader)
            return RarStructure::Ending::Complete;
        // Sizes are 64-bit and untrusted: compare before adding.
        const qint64 dataStart = headerStart + static_cast<qint64>(*size);
        if (dataSize > static_cast<quint64>(end - dataStart))
            return RarStructure::Ending::Truncated;
        pos = dataStart + static_cast<qint64>(dataSize);
    }
    // The end block is mandatory in RAR5.
    return RarStructure::Ending::Truncated;
}

RarStructure::Ending walkRar4(const Reader& reader, qint64 pos, qint64 end)
{
    constexpr int kMainHead = 0x73, kFileHead = 0x74, kNewSubHead = 0x7A, kEndHead = 0x7B;
    constexpr quint64 kEncryptedHeaders = 0x0080, kLongBlock = 0x8000, kLargeFile = 0x0100;
    while (pos < end) {
        const std::optional<QByteArray> head = reader.at(pos, 7);
        if (!head)
            return RarStructure::Ending::Truncated;
        const auto type = static_cast<unsigned char>(head->at(2));
        const quint64 flags = le(*head, 3, 2);
        const quint64 size = le(*head, 5, 2);
        if (size < 7)
            return RarStructure::Ending::Truncated;
        if (type == kMainHead && (flags & kEncryptedHeaders))
            return RarStructure::Ending::Unknown;
        if (type == kEndHead)
            return RarStructure::Ending::Complete;
        quint64 data = 0;
        if (type == kFileHead || type == kNewSubHead || (flags & kLongBlock)) {
            const std::optional<QByteArray> added = reader.at(pos + 7, 4);
            if (!added)
                return RarStructure::Ending::Truncated;
            data = le(*added, 0, 4);
            if ((type == kFileHead || type == kNewSubHead) && (flags & kLargeFile)) {
                const std::optional<QByteArray> high = reader.at(pos + 32, 4);
                if (!high)
                    return RarStructure::Ending::Truncated;
                data |= le(*high, 0, 4) << 32;
            }
        }
        if (const auto left = static_cast<quint64>(end - pos); size > left || data > left - size)
            return RarStructure::Ending::Truncated; // the block runs past the end
        pos += static_cast<qint64>(size + data);
    }
    // Archives of old versions end without an end block, exactly after their last block.
    return pos == end ? RarStructure::Ending::Complete : RarStructure::Ending::Truncated;
}

} // namespace

RarStructure::Ending RarStructure::check(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Ending::Unknown;
    const qint64 end = file.size();
    // Self-extracting archives carry a program before the signature.
    const QByteArray start = file.read(std::min(end, kSfxSearch));
    const Reader reader(file.handle(), end);
    // Nearly every archive ends with the usual end block: no need to walk.
    if (const std::optional<QByteArray> tail = reader.at(end - 8, 8)) {
        if (start.startsWith(kRar5Signature) && (*tail == kRar5End || *tail == kRar5VolumeEnd))
            return Ending::Complete;
        if (start.startsWith(kRar4Signature) && tail->endsWith(kRar4End))
            return Ending::Complete;
    }
    if (const qsizetype at5 = start.indexOf(kRar5Signature); at5 >= 0)
        return walkRar5(reader, at5 + kRar5Signature.size(), end);
    if (const qsizetype at4 = start.indexOf(kRar4Signature); at4 >= 0)
        return walkRar4(reader, at4 + kRar4Signature.size(), end);
    return Ending::Unknown;
}
