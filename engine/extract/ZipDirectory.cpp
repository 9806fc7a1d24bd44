#include "engine/extract/ZipDirectory.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The record sizes and the tail that libzip 1.7.3 searches for an end record.
constexpr quint64 kEndLength = 22;
constexpr quint64 kLocatorLength = 20;
constexpr quint64 kEnd64Length = 56;
constexpr quint64 kCentralLength = 46;
constexpr quint64 kSearchLength = 65536 + kEndLength + kLocatorLength;
constexpr quint64 kInt64Max = 0x7FFFFFFFFFFFFFFF;
// Zeros between the archive and a slice's end records: more than the search
// reaches, so that libzip meets only the records written here.
constexpr quint64 kPadding = 1 << 17;
constexpr std::size_t kReadAhead = 64 * 1024;
constexpr std::size_t kWalkChunk = 256 * 1024;

quint16 u16(const unsigned char* p)
{
    return static_cast<quint16>(p[0] | p[1] << 8);
}
quint32 u32(const unsigned char* p)
{
    return u16(p) | static_cast<quint32>(u16(p + 2)) << 16;
}
quint64 u64(const unsigned char* p)
{
    return u32(p) | static_cast<quint64>(u32(p + 4)) << 32;
}

bool readAt(int fd, quint64 offset, void* data, std::size_t size)
{
    auto* out = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        offset += static_cast<quint64>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads a forward walk's small pieces a megabyte at a time.
class WalkReader final {
public:
    explicit WalkReader(int fd)
        : m_fd(fd)
    {
    }
    const unsigned char* get(quint64 offset, std::size_t size)
    {
        if (offset < m_start || offset + size > m_start + m_buffer.size()) {
            m_buffer.resize(kWalkChunk);
            const ssize_t n = ::pread(m_fd, m_buffer.data(), kWalkChunk, static_cast<off_t>(offset));
            m_buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            m_start = offset;
            if (m_buffer.size() < size)
                return nullptr;
        }
        return m_buffer.data() + (offset - m_start);
    }

private:
    int m_fd;
    quint64 m_start = 0;
    std::vector<unsigned char> m_buffer;
};

void put(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>(value >> (8 * i) & 0xFF));
}

} // namespace

// The archive's bytes as libzip reads them: the file, then, for a slice,
// zeros and the end records that name the slice. Once libzip has read the
// directory the records are hidden again, so that an entry whose data runs
// past the file's end fails as it would on the file itself.
class ZipDirectory::View final {
public:
    View(int fd, quint64 length, QByteArray tail)
        : m_fd(fd)
        , m_length(length)
        , m_tail(std::move(tail))
    {
    }

    static zip_int64_t call(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
    {
        auto* view = static_cast<View*>(state);
        switch (command) {
        case ZIP_SOURCE_OPEN:
            view->m_position = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return view->read(static_cast<unsigned char*>(data), length);
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            if (length < sizeof(zip_stat_t))
                return view->fail(ZIP_ER_INVAL, 0);
            auto* stat = static_cast<zip_stat_t*>(data);
            zip_stat_init(stat);
            stat->size = view->virtualLength();
            stat->valid |= ZIP_STAT_SIZE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&view->m_error, data, length);
        case ZIP_SOURCE_FREE:
            zip_error_fini(&view->m_error);
            delete view;
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t position
                = zip_source_seek_compute_offset(view->m_position, view->virtualLength(), data, length, &view->m_error);
            if (position < 0)
                return -1;
            view->m_position = static_cast<quint64>(position);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(view->m_position);
        case ZIP_SOURCE_ACCEPT_EMPTY:
            return 0; // as libzip's file source: an empty file is no archive
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
                ZIP_SOURCE_ACCEPT_EMPTY, -1);
        default:
            return view->fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }

    void hideTail() { m_tailShown = false; }

private:
    quint64 virtualLength() const { return m_length + (m_tail.isEmpty() ? 0 : kPadding + m_tail.size()); }

    zip_int64_t fail(int code, int system)
    {
        zip_error_set(&m_error, code, system);
        return -1;
    }

    zip_int64_t read(unsigned char* data, quint64 length)
    {
        quint64 n = 0;
        if (m_position < m_length) {
            n = std::min(length, m_length - m_position);
            if (!readFile(data, n))
                return fail(ZIP_ER_READ, errno ? errno : EIO);
        } else if (m_tailShown && m_position < virtualLength()) {
            n = std::min(length, virtualLength() - m_position);
            const quint64 tailStart = m_length + kPadding;
            for (quint64 i = 0; i < n; ++i) {
                const quint64 at = m_position + i;
                data[i] = at < tailStart
                    ? 0
                    : static_cast<unsigned char>(m_tail.at(static_cast<qsizetype>(at - tailStart)));
            }
        }
        m_position += n;
        return static_cast<zip_int64_t>(n);
    }

    // libzip reads a directory and small entries in pieces of a few bytes:
    // those come from a read-ahead buffer, large reads straight from the file.
    bool readFile(unsigned char* data, quint64 length)
    {
        errno = 0;
        if (m_position >= m_bufferStart && m_position + length <= m_bufferStart + m_buffer.size()) {
            std::memcpy(data, m_buffer.data() + (m_position - m_bufferStart), length);
            return true;
        }
        if (length >= kReadAhead)
            return readAt(m_fd, m_position, data, length);
        m_buffer.resize(static_cast<std::size_t>(std::min<quint64>(kReadAhead, m_length - m_position)));
        m_bufferStart = m_position;
        if (!readAt(m_fd, m_position, m_buffer.data(), m_buffer.size())) {
            m_buffer.clear();
            return false;
        }
        std::memcpy(data, m_buffer.data(), length);
        return true;
    }

    const int m_fd;
    const quint64 m_length;
    const QByteArray m_tail;
    bool m_tailShown = true;
    quint64 m_position = 0;
    std::vector<unsigned char> m_buffer;
    quint64 m_bufferStart = 0;
    zip_error_t m_error {};
};

ZipDirectory::ZipDirectory(const QString& path, qint64 sliceEntries)
{
    // Not blocking on a pipe; like libzip's file source, only a regular
    // file is read.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info { };
    const bool opened = m_fd >= 0 && ::fstat(m_fd, &info) == 0;
    if (!opened || !S_ISREG(info.st_mode)) {
        const int system = opened ? 0 : errno;
        zip_error_t error;
        zip_error_init(&error);
        if (opened)
            zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
        else
            zip_error_set(&error, system == ENOENT ? ZIP_ER_NOENT : ZIP_ER_OPEN, system == ENOENT ? 0 : system);
        setError(&error);
        zip_error_fini(&error);
        if (system == EACCES || system == EPERM)
            m_status = Outcome::Status::NoPermission;
        return;
    }
    m_length = static_cast<quint64>(info.st_size);
    // Sliced only when libzip could take no other end record than the one
    // found here; anything else is libzip's to judge on the whole archive.
    sliceEntries = std::max<qint64>(1, sliceEntries);
    std::vector<Candidate> found = candidates(sliceEntries);
    if (found.size() == 1 && found.front().entries > static_cast<quint64>(sliceEntries)) {
        m_zip64 = found.front().zip64;
        m_slices = std::move(found.front().slices);
        m_plain = !std::all_of(m_slices.cbegin(), m_slices.cend(), [this](const Slice& slice) {
            const QByteArray records = tail(slice);
            return records.indexOf("PK\5\6") == records.size() - static_cast<qsizetype>(kEndLength);
        });
    }
    if (m_plain)
        m_slices.assign(1, Slice {});
    open(0);
}

ZipDirectory::~ZipDirectory()
{
    close();
    if (m_fd >= 0)
        ::close(m_fd);
}

void ZipDirectory::close()
{
    if (m_zip)
        zip_discard(m_zip);
    m_zip = nullptr;
    m_current = -1;
}

zip_t* ZipDirectory::open(int slice)
{
    if (m_zip && slice == m_current)
        return m_zip;
    close();
    if (m_fd < 0 || slice < 0 || slice >= sliceCount())
        return nullptr;
    auto* view = new View(m_fd, m_length, m_plain ? QByteArray() : tail(m_slices[static_cast<std::size_t>(slice)]));
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_function_create(&View::call, view, &error);
    if (!source)
        delete view;
    else if (!(m_zip = zip_open_from_source(source, ZIP_RDONLY, &error)))
        zip_source_free(source);
    if (m_zip && !m_plain
        && static_cast<quint64>(zip_get_num_entries(m_zip, 0)) != m_slices[static_cast<std::size_t>(slice)].entries) {
        close(); // the file changed under us
        zip_error_set(&error, ZIP_ER_CHANGED, 0);
    }
    if (m_zip) {
        view->hideTail();
        m_current = slice;
    } else {
        setError(&error);
    }
    zip_error_fini(&error);
    return m_zip;
}

void ZipDirectory::setError(zip_error_t* error)
{
    m_error = QString::fromLocal8Bit(zip_error_strerror(error));
    switch (zip_error_code_zip(error)) {
    case ZIP_ER_NOZIP:
    case ZIP_ER_OPNOTSUPP:
        m_status = Outcome::Status::NotAnArchive;
        break;
    case ZIP_ER_MULTIDISK:
        m_status = Outcome::Status::MissingPart;
        break;
    case ZIP_ER_INCONS:
    case ZIP_ER_CRC:
    case ZIP_ER_EOF:
        m_status = Outcome::Status::Damaged;
        break;
    default:
        m_status = Outcome::Status::Failed;
    }
}

// The central directories libzip 1.7.3 would accept, in the order it meets
// their end records in the archive's last 64 KiB, with the checks it makes;
// two are enough to know that it would have to choose between them.
std::vector<ZipDirectory::Candidate> ZipDirectory::candidates(qint64 sliceEntries) const
{
    std::vector<Candidate> found;
    if (m_length < kEndLength)
        return found;
    const quint64 length = std::min(m_length, kSearchLength);
    const quint64 base = m_length - length;
    std::vector<unsigned char> buffer(length);
    if (!readAt(m_fd, base, buffer.data(), length))
        return found;
    const unsigned char* data = buffer.data();
    for (quint64 at = length >= kSearchLength ? kLocatorLength : 0; at + kEndLength <= length && found.size() < 2;
         ++at) {
        if (std::memcmp(data + at, "PK\5\6", 4) != 0)
            continue;
        Candidate candidate;
        if (at >= kLocatorLength && std::memcmp(data + at - kLocatorLength, "PK\6\7", 4) == 0) {
            const unsigned char* locator = data + at - kLocatorLength;
            // libzip reads the locator's disk field as two halves.
            quint32 disks = u16(locator + 4);
            quint32 disk = u16(locator + 6);
            const quint64 end64 = u64(locator + 8);
            if (end64 > kInt64Max || end64 + kEnd64Length > base + at - kLocatorLength)
                continue;
            unsigned char record[kEnd64Length];
            if (end64 >= base && end64 + kEnd64Length <= base + length)
                std::memcpy(record, data + (end64 - base), kEnd64Length);
            else if (!readAt(m_fd, end64, record, kEnd64Length))
                continue;
            if (std::memcmp(record, "PK\6\6", 4) != 0)
                continue;
            if (disks == 0xFFFF)
                disks = u32(record + 16);
            if (disk == 0xFFFF)
                disk = u32(record + 20);
            candidate.declared = u64(record + 24);
            candidate.size = u64(record + 40);
            candidate.offset = u64(record + 48);
            candidate.zip64 = true;
            // libzip adds the buffer's offset to the record's absolute one here.
            if (disks != 0 || disk != 0 || candidate.declared != u64(record + 32) || candidate.offset > kInt64Max
                || candidate.offset + candidate.size < candidate.offset
                || candidate.offset + candidate.size > base + end64
                || candidate.declared > candidate.size / kCentralLength)
                continue;
        } else {
            candidate.declared = u16(data + at + 10);
            candidate.size = u32(data + at + 12);
            candidate.offset = u32(data + at + 16);
            if (u32(data + at + 4) != 0 || candidate.declared != u16(data + at + 8))
                continue;
        }
        const quint64 comment = u16(data + at + 20);
        if (candidate.offset + candidate.size > base + at || length - at - kEndLength < comment)
            continue;
        if (walk(candidate, sliceEntries))
            found.push_back(std::move(candidate));
    }
    return found;
}

// Counts the central records as libzip reads them, cutting a slice every
// `sliceEntries`. Only the records' fixed parts are read: libzip parses each
// one fully when it opens its slice. A classic end record may give the count
// modulo 65 536, as one zip tool writes it; libzip accepts that.
bool ZipDirectory::walk(Candidate& candidate, qint64 sliceEntries) const
{
    WalkReader reader(m_fd);
    quint64 expected = candidate.declared;
    quint64 count = 0;
    quint64 left = candidate.size;
    quint64 at = candidate.offset;
    Slice slice { .offset = at };
    while (left > 0) {
        if (count == expected) {
            if (candidate.zip64 || left < kCentralLength)
                break;
            expected += 0x10000;
        }
        const unsigned char* record = left >= kCentralLength ? reader.get(at, kCentralLength) : nullptr;
        if (!record || std::memcmp(record, "PK\1\2", 4) != 0)
            return false;
        const quint64 size = kCentralLength + u16(record + 28) + u16(record + 30) + u16(record + 32);
        if (size > left)
            return false;
        if (slice.entries == static_cast<quint64>(sliceEntries)) {
            candidate.slices.push_back(slice);
            slice = { .offset = at };
        }
        ++slice.entries;
        slice.size += size;
        ++count;
        left -= size;
        at += size;
    }
    if (count != expected || left > 0)
        return false;
    candidate.slices.push_back(slice);
    candidate.entries = count;
    return true;
}

// The end records that name one slice: ZIP64 ones when the archive has them
// or the values need them, then the classic record, without a comment.
QByteArray ZipDirectory::tail(const Slice& slice) const
{
    const bool zip64 = m_zip64 || slice.entries > 0xFFFF || slice.offset >= 0xFFFFFFFF || slice.size >= 0xFFFFFFFF;
    QByteArray records;
    if (zip64) {
        put(records, 0x06064B50, 4);
        put(records, kEnd64Length - 12, 8);
        put(records, 45, 2); // made by, needed: ZIP64
        put(records, 45, 2);
        put(records, 0, 8); // this disk, the directory's disk
        put(records, slice.entries, 8);
        put(records, slice.entries, 8);
        put(records, slice.size, 8);
        put(records, slice.offset, 8);
        put(records, 0x07064B50, 4);
        put(records, 0, 4);
        put(records, m_length + kPadding, 8);
        put(records, 1, 4);
    }
    put(records, 0x06054B50, 4);
    put(records, 0, 4);
    put(records, zip64 ? 0xFFFF : slice.entries, 2);
    put(records, zip64 ? 0xFFFF : slice.entries, 2);
    put(records, zip64 ? 0xFFFFFFFF : slice.size, 4);
    put(records, zip64 ? 0xFFFFFFFF : slice.offset, 4);
    put(records, 0, 2);
    return records;
}
