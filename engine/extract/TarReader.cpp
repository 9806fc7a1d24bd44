#include "engine/extract/TarReader.h"

#include "engine/extract/DecompressAhead.h"
#include "engine/extract/TarExtraction.h"
#include "engine/extract/TarStream.h"
#include "engine/safety/EntrySink.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace {

// A single compressed file keeps its time in the header only with gzip, and
// not always there; elsewhere the decompressed file takes the compressed
// one's, as gzip, bzip2, xz and zstd do.
std::optional<timespec> singleFileTime(const DecompressAhead& data, const QString& path)
{
    if (const std::optional<timespec> stored = data.storedTime(); stored && stored->tv_sec != 0)
        return stored;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return st.st_mtim;
}

bool cancelledBeforeStart(EntrySink& sink, const ExtractRequest& request)
{
    if (!request.listed || request.listed())
        return false;
    sink.fail(QStringLiteral("stopped before extracting"), Outcome::Status::Cancelled);
    return true;
}

} // namespace

TarReader::TarReader(const QString& path)
    : m_path(path)
    , m_format(TarFormat::forPath(path))
{
}

TarReader::~TarReader() = default;

Outcome TarReader::open(const std::optional<QString>&)
{
    if (!m_format) {
        return { .status = Outcome::Status::NotAnArchive,
            .message = m_path + QStringLiteral(": not a name of the tar family") };
    }
    if (m_stream || m_single)
        return {};
    if (m_format->single) {
        auto single = std::make_unique<DecompressAhead>(m_path, *m_format);
        const Outcome started = single->start();
        if (started.ok())
            m_single = std::move(single);
        return started;
    }
    auto stream = std::make_unique<TarStream>(m_path, *m_format);
    const Outcome opened = stream->open();
    if (opened.ok())
        m_stream = std::move(stream);
    return opened;
}

Outcome TarReader::takeStream(std::unique_ptr<TarStream>* stream)
{
    const Outcome opened = open(std::nullopt);
    *stream = std::move(m_stream);
    return opened;
}

Outcome TarReader::list(const std::function<bool(const ArchiveEntry&)>& onEntry)
{
    if (m_format && m_format->single) {
        if (const Outcome opened = open(std::nullopt); !opened.ok())
            return opened;
        ArchiveEntry entry;
        entry.path = m_format->singleFileName(m_path);
        entry.mtime = singleFileTime(*m_single, m_path);
        onEntry(entry);
        return {};
    }
    std::unique_ptr<TarStream> stream;
    if (const Outcome taken = takeStream(&stream); !taken.ok())
        return taken;
    for (;;) {
        archive_entry* entry = nullptr;
        if (const Outcome next = stream->next(&entry); !next.ok())
            return next;
        if (!entry || !onEntry(TarExtraction::describe(entry)))
            return {};
    }
}

Outcome TarReader::extract(EntrySink& sink, const ExtractRequest& request)
{
    if (m_format && m_format->single)
        return extractSingle(sink, request);
    std::unique_ptr<TarStream> stream;
    if (const Outcome taken = takeStream(&stream); !taken.ok()) {
        if (!sink.stopRequested())
            sink.fail(taken);
    } else if (!cancelledBeforeStart(sink, request)) {
        stream->setStopToken(sink.stopToken());
        TarExtraction(*stream, sink, request.selection).run();
    }
    return sink.finish();
}

Outcome TarReader::extractSingle(EntrySink& sink, const ExtractRequest& request)
{
    if (const Outcome opened = open(std::nullopt); !opened.ok()) {
        sink.fail(opened);
        return sink.finish();
    }
    const std::unique_ptr<DecompressAhead> data = std::move(m_single);
    const std::optional<QStringList> path = sink.admit(m_format->singleFileName(m_path));
    const bool chosen = !request.selection || (!request.selection->empty() && request.selection->front());
    if (!path || !chosen || cancelledBeforeStart(sink, request) || !sink.open(false))
        return sink.finish();
    EntryMeta meta;
    meta.mtime = singleFileTime(*data, m_path);
    const qint64 fileSize = QFileInfo(m_path).size();
    sink.progress().start();
    PendingFile file;
    if (!sink.beginFile(*path, file, meta))
        return sink.finish();
    for (;;) {
        if (sink.stopRequested()) {
            sink.discard(file);
            break;
        }
        const char* block = nullptr;
        const qint64 size = data->next(&block);
        if (size < 0) {
            sink.discard(file);
            sink.fail(data->failure());
            break;
        }
        if (size == 0) {
            sink.commitFile(file, meta);
            break;
        }
        if (!sink.write(file, block, size))
            break;
        if (fileSize > 0)
            sink.progress().reportFraction(static_cast<double>(data->consumed()) / static_cast<double>(fileSize));
    }
    return sink.finish();
}
