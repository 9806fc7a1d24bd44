#include "engine/zipwrite/ZipWriter.h"

#include "WriteProgress.h"
#include "ZipEncodeAhead.h"
#include "ZipEntryEncoder.h"
#include "ZipEntrySource.h"
#include "ZipOutputFile.h"
#include "platform/Logging.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <malloc.h>
#include <mutex>
#include <thread>
#include <zip.h>

namespace {

// Compressed work waiting for the writer holds at most about this much:
// enough for every core to run well ahead, small whatever the files' sizes.
constexpr std::size_t kEncodeAheadBudget = 16 * 1024 * 1024;

// Entries allocate and free buffers all the time: libzip's per-entry
// structures and the encoded bytes handed from the workers to the writer.
// With glibc's default thresholds, blocks over 128 KiB come from mmap and
// freed memory at the top of the heap is given back, so the same pages are
// faulted in again and again (with libzip's own deflate state of some
// 300 KiB per entry, 70 000 small files took minutes). Keep freed memory.
void keepFreedMemory()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
    });
}

bool isUtf8(const std::string& text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = s + text.size();
    while (s < end) {
        int follow = 0;
        if (*s < 0x80)
            follow = 0;
        else if ((*s & 0xE0) == 0xC0 && *s >= 0xC2)
            follow = 1;
        else if ((*s & 0xF0) == 0xE0)
            follow = 2;
        else if ((*s & 0xF8) == 0xF0 && *s <= 0xF4)
            follow = 3;
        else
            return false;
        if (end - s <= follow)
            return follow == 0;
        for (int i = 1; i <= follow; ++i) {
            if ((s[i] & 0xC0) != 0x80)
                return false;
        }
        s += follow + 1;
    }
    return true;
}

// libzip's fraction of entries written: entry j of t spans [j/t, (j+1)/t],
// so the entries done are the fraction times t rounded down.
struct LibzipProgress final {
    WriteProgress* progress = nullptr;
    double entries = 0;
};

void onLibzipProgress(zip_t*, double fraction, void* data)
{
    const auto* state = static_cast<const LibzipProgress*>(data);
    const double entries = std::floor(fraction * state->entries + 1e-6);
    state->progress->entriesWritten(static_cast<std::uint64_t>(std::max(entries, 0.0)));
}

// The "UT" extra field with the modification time in whole seconds: DOS
// times keep only even seconds, in local time.
void addUnixTime(zip_t* archive, zip_uint64_t index, std::time_t mtime)
{
    if (mtime < std::numeric_limits<std::int32_t>::min() || mtime > std::numeric_limits<std::int32_t>::max())
        return;
    const auto value = static_cast<std::uint32_t>(static_cast<std::int32_t>(mtime));
    const zip_uint8_t field[5] = { 1, static_cast<zip_uint8_t>(value), static_cast<zip_uint8_t>(value >> 8),
        static_cast<zip_uint8_t>(value >> 16), static_cast<zip_uint8_t>(value >> 24) };
    zip_file_extra_field_set(
        archive, index, 0x5455, ZIP_EXTRA_FIELD_NEW, field, sizeof field, ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
}

bool addEntry(zip_t* archive, const ZipEntry& entry, std::size_t index, ZipEntrySource::Context& context)
{
    const zip_flags_t nameFlags = isUtf8(entry.name) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_GUESS;
    zip_int64_t added = -1;
    if (entry.kind == ZipEntry::Kind::Directory) {
        added = zip_dir_add(archive, entry.name.c_str(), nameFlags);
    } else {
        zip_source_t* source = ZipEntrySource::create(archive, &context, index);
        if (!source)
            return false;
        added = zip_file_add(archive, entry.name.c_str(), source, nameFlags);
        if (added < 0) {
            zip_source_free(source);
            return false;
        }
    }
    if (added < 0)
        return false;

    const auto at = static_cast<zip_uint64_t>(added);
    if (entry.kind == ZipEntry::Kind::Directory || !ZipEntryEncoder::deflates(entry, context.password, context.level)) {
        if (zip_set_file_compression(archive, at, ZIP_CM_STORE, 0) != 0)
            return false;
    }
    // The source's bytes are encrypted already: name the method, give no password.
    if (context.password && entry.kind != ZipEntry::Kind::Directory
        && zip_file_set_encryption(archive, at, ZIP_EM_AES_256, nullptr) != 0)
        return false;
    // Unix file type and permissions in the upper half; the DOS folder bit for readers that look only there.
    const zip_uint32_t attributes = (static_cast<zip_uint32_t>(entry.mode & 0xFFFF) << 16)
        | (entry.kind == ZipEntry::Kind::Directory ? 0x10u : 0u);
    if (zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX, attributes) != 0)
        return false;
    if (zip_file_set_mtime(archive, at, entry.mtime, 0) != 0)
        return false;
    addUnixTime(archive, at, entry.mtime);
    return true;
}

} // namespace

namespace {

Outcome failed(Outcome::Status status, const std::string& reason)
{
    qCWarning(lcEngineZip, "zip writer: %s", reason.c_str());
    return { .status = status, .message = QString::fromStdString(reason) };
}

// libzip's error as an outcome: a full disk (or quota) and a name taken
// meanwhile are told apart.
Outcome libzipFailure(const std::string& what, zip_error_t* error)
{
    const int system = zip_error_code_system(error);
    const bool full = zip_error_system_type(error) == ZIP_ET_SYS && (system == ENOSPC || system == EDQUOT);
    const Outcome::Status status = full              ? Outcome::Status::NoSpace
        : zip_error_code_zip(error) == ZIP_ER_EXISTS ? Outcome::Status::NameTaken
                                                     : Outcome::Status::Failed;
    return failed(status, what + ": " + zip_error_strerror(error));
}

// zip_close asks now and then whether to go on.
int onLibzipCancel(zip_t*, void* stop)
{
    return static_cast<const StopToken*>(stop)->requested() ? 1 : 0;
}

} // namespace

Outcome ZipWriter::passwordWithNul()
{
    return { .status = Outcome::Status::Unsupported,
        .message = QStringLiteral("the password holds a NUL character, which archives cannot keep") };
}

Outcome ZipWriter::write(const std::string& path, const std::vector<ZipEntry>& entries, const Options& options,
    const ProgressHandler& progressHandler)
{
    if (options.password && options.password->contains(QChar(u'\0')))
        return passwordWithNul();
    if (entries.empty())
        return failed(Outcome::Status::NothingToPack, "nothing to pack for " + path);
    keepFreedMemory();

    ZipOutputFile output(path, options.replaceExisting);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = output.createSource(&error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error) : nullptr;
    if (!archive) {
        const Outcome result = libzipFailure(path, &error);
        zip_error_fini(&error);
        if (source)
            zip_source_free(source);
        return result;
    }
    zip_error_fini(&error);

    const std::string password = options.password ? options.password->toStdString() : std::string();
    ZipEntrySource::Context context;
    context.entries = &entries;
    context.level = options.compressionLevel;
    context.password = options.password ? &password : nullptr;
    context.stop = options.stop;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!addEntry(archive, entries[i], i, context)) {
            const Outcome result = libzipFailure(entries[i].name, zip_get_error(archive));
            zip_discard(archive);
            return result;
        }
    }

    WriteProgress progress(progressHandler, entries);
    context.consumed = [&progress](std::uint64_t bytes) { progress.bytesWritten(bytes); };
    LibzipProgress libzipProgress { &progress, static_cast<double>(entries.size()) };
    // Fine enough to see every entry boundary; libzip calls back only when
    // the fraction moved by more than this.
    const double precision = std::min(0.001, 0.5 / static_cast<double>(entries.size()));
    zip_register_progress_callback_with_state(archive, precision, &onLibzipProgress, nullptr, &libzipProgress);
    zip_register_cancel_callback_with_state(archive, &onLibzipCancel, nullptr, &context.stop);
    progress.start();

    // libzip lays out the archive here, taking each entry's bytes from its
    // source while the workers compress the next ones.
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    ZipEncodeAhead encodeAhead(
        entries, options.compressionLevel, context.password, options.stop, threads, kEncodeAheadBudget);
    context.encodeAhead = &encodeAhead;
    if (zip_close(archive) != 0) {
        // An entry's own failure (a file that cannot be read, a stop) says
        // more than libzip's summary.
        Outcome result = context.failure;
        if (result.ok() && options.stop.requested())
            result = { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
        if (result.ok())
            result = libzipFailure(path, zip_get_error(archive));
        qCWarning(lcEngineZip, "zip writer: %s: %s", path.c_str(), zip_strerror(archive));
        zip_discard(archive);
        return result;
    }
    progress.finish();
    return {};
}
