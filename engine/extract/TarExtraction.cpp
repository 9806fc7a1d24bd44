#include "engine/extract/TarExtraction.h"

#include "engine/extract/TarFormat.h"
#include "engine/extract/TarStream.h"
#include "engine/safety/EntryNames.h"
#include "engine/safety/EntrySink.h"
#include "platform/FileNames.h"

#include <QRandomGenerator>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <thread>

namespace {

EntryMeta metaOf(archive_entry* entry)
{
    EntryMeta meta;
    meta.mode = archive_entry_perm(entry) & 07777;
    if (archive_entry_mtime_is_set(entry))
        meta.mtime = timespec { archive_entry_mtime(entry), archive_entry_mtime_nsec(entry) };
    return meta;
}

// The size a header declares, or -1 when it declares none. A base-256
// size field can hold a negative number; no reader treats that as a size.
qint64 declaredSize(archive_entry* entry)
{
    if (!archive_entry_size_is_set(entry))
        return -1;
    const qint64 size = archive_entry_size(entry);
    return size >= 0 ? size : -1;
}

} // namespace

TarExtraction::TarExtraction(TarStream& stream, EntrySink& sink, const std::optional<std::vector<bool>>& selection)
    : m_stream(stream)
    , m_sink(sink)
    , m_selection(selection)
    // Keyed, so that no archive can choose a name whose hash matches a
    // file it did not place.
    , m_seed(static_cast<std::size_t>(QRandomGenerator::system()->generate64()))
    , m_writers(sink, [this](const QStringList& path) { notePlaced(path); })
{
}

QString TarExtraction::entryName(archive_entry* entry)
{
    const char* name = archive_entry_pathname(entry);
    return name ? FileNames::decode(name) : QString();
}

ArchiveEntry TarExtraction::describe(archive_entry* entry)
{
    ArchiveEntry described;
    described.path = entryName(entry);
    switch (archive_entry_filetype(entry)) {
    case AE_IFDIR:
        described.kind = ArchiveEntry::Kind::Folder;
        break;
    case AE_IFLNK:
        described.kind = ArchiveEntry::Kind::Link;
        break;
    case AE_IFCHR:
    case AE_IFBLK:
    case AE_IFIFO:
    case AE_IFSOCK:
        described.kind = ArchiveEntry::Kind::Special;
        break;
    default:
        described.kind = ArchiveEntry::Kind::File;
    }
    if (archive_entry_hardlink(entry))
        described.kind = ArchiveEntry::Kind::HardLink;
    described.size = declaredSize(entry);
    described.mtime = metaOf(entry).mtime;
    return described;
}

void TarExtraction::run()
{
    // A tar cannot be looked through first: a name refused late fails the
    // job as unsafe, and the sink then takes back everything placed before it.
    walk();
    m_writers.drain();
}

bool TarExtraction::walk()
{
    for (std::size_t index = 0; !m_sink.stopRequested(); ++index) {
        archive_entry* entry = nullptr;
        if (const Outcome next = m_stream.next(&entry); !next.ok()) {
            // A stop while libarchive skipped data is not damage.
            if (!m_sink.stopRequested())
                m_sink.fail(next);
            return true;
        }
        if (!entry)
            return true;
        const std::optional<QStringList> path = m_sink.admit(entryName(entry));
        if (!path)
            return false;
        if (m_selection && (index >= m_selection->size() || !(*m_selection)[index]))
            continue;
        if (!m_sinkTried)
            m_sink.progress().start();
        if (!openSink() || !place(entry, *path))
            return true;
        // A tar is read once, front to back: how far is what the file says.
        m_sink.progress().reportFraction(m_stream.fractionRead());
    }
    return true;
}

bool TarExtraction::openSink()
{
    // Opened at the first entry to place, so that an archive refused at
    // its first name leaves not even a missing destination made.
    if (!m_sinkTried) {
        m_sinkTried = true;
        m_sinkOpen = m_sink.open(true);
        // Beside the reading thread and the decompressing one.
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        m_writersRunning = m_sinkOpen && m_writers.start(std::clamp(cores - 1, 1u, 4u));
    }
    return m_sinkOpen;
}

bool TarExtraction::place(archive_entry* entry, const QStringList& path)
{
    // "./": the destination itself, whose mode and times stay the user's.
    if (path.isEmpty())
        return true;
    const EntryMeta meta = metaOf(entry);
    if (const char* target = archive_entry_hardlink(entry)) {
        // The file it names must have its name by now.
        m_writers.drain();
        placeHardLink(path, target);
        return true;
    }
    const auto type = archive_entry_filetype(entry);
    m_writers.makeWayFor(path, type != AE_IFDIR);
    switch (type) {
    case AE_IFDIR:
        m_sink.folder(path, meta);
        return true;
    case AE_IFLNK: {
        const char* target = archive_entry_symlink(entry);
        m_sink.link(path, QByteArray(target ? target : ""), meta);
        return true;
    }
    case AE_IFCHR:
    case AE_IFBLK:
    case AE_IFIFO:
    case AE_IFSOCK:
        qCWarning(lcEngineTar, "entry not extracted, a device, FIFO or socket: %s", qUtf8Printable(path.join(u'/')));
        return true;
    default:
        break;
    }
    const qint64 size = declaredSize(entry);
    if (m_writersRunning && size >= 0 && size <= SmallFileWriters::kMaxFileSize
        && archive_entry_sparse_count(entry) == 0)
        return queueFile(path, meta, size);
    m_writers.kick();
    return placeFile(entry, path, meta);
}

bool TarExtraction::queueFile(const QStringList& path, const EntryMeta& meta, qint64 size)
{
    SmallFileWriters::File file { .path = path, .meta = meta, .data = {} };
    file.data.reserve(size);
    for (;;) {
        if (m_sink.stopRequested())
            return false;
        const char* data = nullptr;
        qint64 length = 0;
        qint64 offset = 0;
        if (const Outcome read = m_stream.readBlock(&data, &length, &offset); !read.ok()) {
            if (!m_sink.stopRequested())
                m_sink.fail(read);
            return false;
        }
        if (length == 0)
            break;
        if (offset != file.data.size() || file.data.size() + length > size) {
            m_sink.fail(
                path.join(u'/') + QStringLiteral(": the data's pieces are out of place"), Outcome::Status::Damaged);
            return false;
        }
        file.data.append(data, length);
    }
    m_writers.post(std::move(file));
    return true;
}

bool TarExtraction::placeFile(archive_entry* entry, const QStringList& path, const EntryMeta& meta)
{
    PendingFile file;
    // A file kept or blocked is skipped: the stream passes over its data.
    if (!m_sink.beginFile(path, file, meta))
        return true;
    qint64 position = 0;
    for (;;) {
        if (m_sink.stopRequested()) {
            m_sink.discard(file);
            return false;
        }
        const char* data = nullptr;
        qint64 size = 0;
        qint64 offset = 0;
        if (const Outcome read = m_stream.readBlock(&data, &size, &offset); !read.ok()) {
            m_sink.discard(file);
            if (!m_sink.stopRequested())
                m_sink.fail(read);
            return false;
        }
        if (size == 0)
            break;
        m_sink.progress().reportFraction(m_stream.fractionRead());
        if (offset < position) {
            m_sink.discard(file);
            m_sink.fail(path.join(u'/') + QStringLiteral(": the data's pieces overlap"), Outcome::Status::Damaged);
            return false;
        }
        // A gap between blocks is a hole of a sparse file.
        if (offset > position && !file.skip(offset - position)) {
            m_sink.fileFailed(file, errno);
            return true;
        }
        if (!m_sink.write(file, data, size))
            return true;
        position = offset + size;
    }
    // A sparse file may end in a hole, which no block covers.
    const qint64 declared = declaredSize(entry);
    if (declared > position && !file.skip(declared - position)) {
        m_sink.fileFailed(file, errno);
        return true;
    }
    if (m_sink.commitFile(file, meta))
        notePlaced(path);
    return true;
}

void TarExtraction::placeHardLink(const QStringList& path, const char* target)
{
    // Only a file this job placed may get a second name: never one that
    // was there before, nor anything outside.
    const QString targetName = FileNames::decode(target);
    const std::optional<QStringList> existing = EntryNames::split(targetName);
    bool placed = false;
    if (existing && !existing->isEmpty()) {
        const std::lock_guard lock(m_placedMutex);
        placed = m_placed.contains(key(*existing));
    }
    if (!placed) {
        qCWarning(lcEngineTar, "entry not extracted, a hard link to a file this job did not place: %s -> %s",
            qUtf8Printable(path.join(u'/')), qUtf8Printable(targetName));
        return;
    }
    if (m_sink.hardLink(path, *existing))
        notePlaced(path);
}

void TarExtraction::notePlaced(const QStringList& path)
{
    const std::size_t placed = key(path);
    const std::lock_guard lock(m_placedMutex);
    m_placed.insert(placed);
}

std::size_t TarExtraction::key(const QStringList& path) const
{
    return qHash(path.join(u'/'), m_seed);
}
