#include "engine/zipwrite/TarWriter.h"

#include "ArchivePlacement.h"
#include "WriteProgress.h"
#include "ZipSourceFile.h"
#include "platform/Logging.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// Content goes to libarchive in pieces of this size, each read through the
// file's one descriptor and checked against its listing.
constexpr std::size_t kChunk = 1024 * 1024;

struct ArchiveFree final {
    void operator()(archive* handle) const { archive_write_free(handle); }
};
struct EntryFree final {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

// The temporary beside the destination; removed unless placed.
class Temporary final {
public:
    Temporary(int fd, std::string path)
        : m_fd(fd)
        , m_path(std::move(path))
    {
    }
    ~Temporary()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    int close()
    {
        const int closed = ::close(m_fd);
        m_fd = -1;
        return closed;
    }
    void placed() { m_path.clear(); }

private:
    int m_fd;
    std::string m_path;
};

// libarchive's error as an outcome: a full disk (or quota) is told apart.
Outcome libarchiveFailure(archive* handle, const std::string& what)
{
    const int error = archive_errno(handle);
    const char* text = archive_error_string(handle);
    const std::string reason = what + ": " + (text ? text : "libarchive failed");
    qCWarning(lcEngineZip, "tar writer: %s", reason.c_str());
    return { .status = error == ENOSPC || error == EDQUOT ? Outcome::Status::NoSpace : Outcome::Status::Failed,
        .message = QString::fromStdString(reason) };
}

Outcome cancelled()
{
    return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
}

// The compressor and its settings; a setting the library does not know is
// only logged (older versions compress zstd on one thread).
Outcome configure(archive* handle, const TarWriter::Options& options)
{
    const char* name = "zstd";
    int added = ARCHIVE_FATAL;
    switch (options.compressor) {
    case TarWriter::Compressor::Zstd:
        added = archive_write_add_filter_zstd(handle);
        break;
    case TarWriter::Compressor::Gzip:
        name = "gzip";
        added = archive_write_add_filter_gzip(handle);
        break;
    case TarWriter::Compressor::Xz:
        name = "xz";
        added = archive_write_add_filter_xz(handle);
        break;
    }
    if (archive_write_set_format_pax(handle) != ARCHIVE_OK || added != ARCHIVE_OK)
        return libarchiveFailure(handle, "setting up the archive");
    const std::string level = std::to_string(options.level);
    if (archive_write_set_filter_option(handle, name, "compression-level", level.c_str()) != ARCHIVE_OK)
        return libarchiveFailure(handle, std::string(name) + " level " + level);
    if (options.compressor != TarWriter::Compressor::Gzip) {
        const std::string threads = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
        if (archive_write_set_filter_option(handle, name, "threads", threads.c_str()) != ARCHIVE_OK)
            qCInfo(lcEngineZip, "tar writer: %s compresses on one thread here", name);
    }
    return {};
}

archive_entry* header(const ZipEntry& entry)
{
    archive_entry* item = archive_entry_new();
    archive_entry_set_pathname(item, entry.name.c_str());
    archive_entry_set_mode(item, entry.mode);
    archive_entry_set_mtime(item, entry.mtime, entry.mtimeNanoseconds);
    archive_entry_set_uid(item, entry.uid);
    archive_entry_set_gid(item, entry.gid);
    if (entry.kind == ZipEntry::Kind::File)
        archive_entry_set_size(item, static_cast<la_int64_t>(entry.size));
    else
        archive_entry_set_size(item, 0);
    if (entry.kind == ZipEntry::Kind::Symlink)
        archive_entry_set_symlink(item, entry.linkTarget.c_str());
    return item;
}

// The content of a File entry, read once through one descriptor.
Outcome writeContent(
    archive* handle, const ZipEntry& entry, const StopToken& stop, WriteProgress& progress, std::vector<char>& buffer)
{
    std::unique_ptr<ZipSourceFile> file;
    if (Outcome opened = ZipSourceFile::open(entry, &file); !opened.ok())
        return opened;
    for (std::uint64_t offset = 0; offset < entry.size;) {
        if (stop.requested())
            return cancelled();
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, entry.size - offset));
        if (Outcome read = file->read(offset, length, buffer.data()); !read.ok())
            return read;
        if (archive_write_data(handle, buffer.data(), length) != static_cast<la_ssize_t>(length))
            return libarchiveFailure(handle, entry.name);
        offset += length;
        progress.bytesWritten(length);
    }
    return {};
}

Outcome writeEntries(
    archive* handle, const std::vector<ZipEntry>& entries, const StopToken& stop, WriteProgress& progress)
{
    std::vector<char> buffer(kChunk);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (stop.requested())
            return cancelled();
        const ZipEntry& entry = entries[i];
        const std::unique_ptr<archive_entry, EntryFree> item(header(entry));
        // A warning is a name that could not be made UTF-8: it is kept as
        // it was, which readers of pax archives accept.
        if (archive_write_header(handle, item.get()) < ARCHIVE_WARN)
            return libarchiveFailure(handle, entry.name);
        if (entry.kind == ZipEntry::Kind::File) {
            if (Outcome written = writeContent(handle, entry, stop, progress, buffer); !written.ok())
                return written;
        }
        progress.entriesWritten(i + 1);
    }
    return {};
}

} // namespace

Outcome TarWriter::write(const std::string& path, const std::vector<ZipEntry>& entries, const Options& options,
    const ZipWriter::ProgressHandler& progressHandler)
{
    if (entries.empty())
        return { .status = Outcome::Status::NothingToPack,
            .message = QString::fromStdString("nothing to pack for " + path) };
    int fd = -1;
    std::string temporaryPath;
    if (Outcome created = ArchivePlacement::createFile(path, &fd, &temporaryPath); !created.ok())
        return created;
    Temporary temporary(fd, temporaryPath);
    WriteProgress progress(progressHandler, entries);
    {
        const std::unique_ptr<archive, ArchiveFree> handle(archive_write_new());
        if (Outcome configured = configure(handle.get(), options); !configured.ok())
            return configured;
        // No padding beyond the compressed stream's end.
        archive_write_set_bytes_in_last_block(handle.get(), 1);
        if (archive_write_open_fd(handle.get(), temporary.fd()) != ARCHIVE_OK)
            return libarchiveFailure(handle.get(), path);
        progress.start();
        if (Outcome written = writeEntries(handle.get(), entries, options.stop, progress); !written.ok()) {
            qCWarning(lcEngineZip, "tar writer: %s", qUtf8Printable(written.message));
            return written;
        }
        // The compressor's last blocks go out here: the disk may fill now.
        if (archive_write_close(handle.get()) != ARCHIVE_OK)
            return libarchiveFailure(handle.get(), path);
    }
    // On the disk before the name points at it (see ArchivePlacement).
    if (!ArchivePlacement::sync(temporary.fd()) || temporary.close() != 0) {
        const int error = errno;
        return { .status = error == ENOSPC || error == EDQUOT ? Outcome::Status::NoSpace : Outcome::Status::Failed,
            .message = QString::fromStdString(path + ": " + std::strerror(error)) };
    }
    if (Outcome placed = ArchivePlacement::place(temporary.path(), path, false); !placed.ok())
        return placed;
    temporary.placed();
    progress.finish();
    return {};
}
