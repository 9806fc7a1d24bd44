#include "engine/extract/ZipReader.h"

#include "engine/extract/NameDecoder.h"
#include "engine/extract/WorkerThreads.h"
#include "engine/extract/ZipDirectory.h"
#include "engine/extract/ZipEntryReader.h"
#include "engine/safety/EntryNames.h"
#include "engine/safety/EntrySink.h"
#include "platform/Logging.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <zip.h>

namespace {

constexpr zip_uint16_t kExtendedTimestamp = 0x5455;
constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kMaxLinkTarget = 4096;
// Entries with more stored bytes than this are handed out first, so that a
// large one does not start last and keep one core busy alone at the end.
constexpr zip_uint64_t kEarlyStart = 8 * 1024 * 1024;

// Kept for every entry while the job runs, so kept small: a million
// entries are a million of these.
struct Entry {
    QByteArray name; // the split name joined with "/", UTF-8
    zip_uint64_t storedSize = 0;
    time_t mtime = 0;
    mode_t mode = 0; // permission bits as stored; 0: none stored
    bool hasMtime = false;
    bool folder = false;
    bool link = false;
    bool encrypted = false;
    bool aes = false; // AES rather than ZipCrypto

    QStringList path() const { return QString::fromUtf8(name).split(u'/'); }
    EntryMeta meta() const
    {
        EntryMeta meta;
        if (mode != 0)
            meta.mode = mode;
        if (hasMtime)
            meta.mtime = timespec { mtime, 0 };
        return meta;
    }
};

bool isAscii(const QByteArray& bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The modification time: the extended timestamp field (UTC, to the second)
// when there is one, else the DOS time that libzip reads as local time.
std::optional<timespec> modificationTime(zip_t* archive, zip_uint64_t index, const zip_stat_t& stat)
{
    zip_uint16_t length = 0;
    const zip_uint8_t* field
        = zip_file_extra_field_get_by_id(archive, index, kExtendedTimestamp, 0, &length, ZIP_FL_CENTRAL);
    if (field && length >= 5 && (field[0] & 1)) {
        const qint64 seconds = static_cast<qint32>(field[1] | field[2] << 8 | field[3] << 16 | quint32(field[4]) << 24);
        return timespec { static_cast<time_t>(seconds), 0 };
    }
    if (stat.valid & ZIP_STAT_MTIME)
        return timespec { stat.mtime, 0 };
    return std::nullopt;
}

QByteArray rawName(zip_t* archive, zip_uint64_t index)
{
    const char* name = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    return QByteArray::fromRawData(name, name ? static_cast<qsizetype>(std::strlen(name)) : 0);
}

// A name stored in an undeclared code page: not ASCII, and changed by
// libzip's CP437 reading (a name flagged UTF-8, or given by a Unicode path
// field, which libzip substitutes, reads unchanged).
bool isLegacy(zip_t* archive, zip_uint64_t index, const QByteArray& raw)
{
    return !isAscii(raw) && QByteArray(zip_get_name(archive, index, ZIP_FL_ENC_STRICT)) != raw;
}

// An entry's name and type as the directory gives them.
struct Named {
    QString name;
    mode_t mode = 0; // as stored by a Unix system; 0: none
    bool folder = false;
};

// `decoder` reads a legacy name; others are UTF-8.
Named named(zip_t* archive, zip_uint64_t index, const QByteArray& raw, const NameDecoder* decoder)
{
    Named entry;
    entry.name = decoder ? decoder->decode(QByteArray(raw.constData(), raw.size())) : QString::fromUtf8(raw);
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes);
    if (opsys != ZIP_OPSYS_UNIX)
        entry.name.replace(u'\\', u'/'); // DOS and Windows tools may separate with backslashes
    entry.mode = opsys == ZIP_OPSYS_UNIX ? static_cast<mode_t>(attributes >> 16) : 0;
    entry.folder = entry.name.endsWith(u'/') || S_ISDIR(entry.mode) || (opsys != ZIP_OPSYS_UNIX && (attributes & 0x10));
    return entry;
}

bool isEncrypted(const zip_stat_t& stat)
{
    return (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
}

zip_uint64_t storedSize(const zip_stat_t& stat)
{
    return (stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0;
}

qint64 contentSize(const zip_stat_t& stat)
{
    return (stat.valid & ZIP_STAT_SIZE) ? static_cast<qint64>(stat.size) : 0;
}

Entry makeEntry(zip_t* archive, zip_uint64_t index, const Named& name, const QStringList& path, const zip_stat_t& stat)
{
    Entry entry;
    entry.name = path.join(u'/').toUtf8();
    entry.name.squeeze(); // kept for a whole slice: not the conversion's room for three bytes a character
    entry.folder = name.folder;
    entry.link = S_ISLNK(name.mode);
    entry.encrypted = isEncrypted(stat);
    entry.aes = entry.encrypted && stat.encryption_method != ZIP_EM_TRAD_PKWARE;
    entry.mode = (name.mode & 0777) ? name.mode & 07777 : 0;
    if (const std::optional<timespec> mtime = modificationTime(archive, index, stat)) {
        entry.mtime = mtime->tv_sec;
        entry.hasMtime = true;
    }
    entry.storedSize = storedSize(stat);
    return entry;
}

zip_uint64_t entryCount(zip_t* archive)
{
    return static_cast<zip_uint64_t>(std::max<zip_int64_t>(0, zip_get_num_entries(archive, 0)));
}

// Puts the listed entries on the disk on every core: each worker takes the
// next entry, reads it through one shared libzip handle (the reading of
// stored bytes is serialized, their decoding is not) and places it through
// the job's sink. Small entries are inflated whole by libdeflate, larger
// ones streamed through zlib.
class ZipExtraction final {
public:
    // `selection`, when given, is indexed by entry number over all slices.
    ZipExtraction(EntrySink& sink, bool orderMatters, QByteArray secret, const std::vector<bool>* selection)
        : m_sink(sink)
        , m_orderMatters(orderMatters)
        , m_secret(std::move(secret))
        , m_selection(selection)
    {
    }

    // Places one slice's entries, `archive` holding that slice, whose first
    // entry is entry number `first` of the archive.
    void run(zip_t* archive, const std::vector<Entry>& entries, zip_uint64_t first)
    {
        m_archive = archive;
        m_entries = &entries;
        m_next = 0;
        m_order.clear();
        m_order.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!m_selection || (first + i < m_selection->size() && (*m_selection)[first + i]))
                m_order.push_back(i);
        }
        std::size_t workers = 1;
        if (!m_orderMatters) {
            std::stable_partition(
                m_order.begin(), m_order.end(), [&](std::size_t i) { return entries[i].storedSize > kEarlyStart; });
            workers = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), m_order.size());
        }
        WorkerThreads::run(
            std::max<std::size_t>(1, workers), [this] { work(); }, lcEngineZip);
    }

private:
    void work()
    {
        ZipEntryReader reader(m_archive, &m_archiveLock);
        std::vector<char> buffer;
        while (!m_sink.stopRequested()) {
            const std::size_t at = m_next.fetch_add(1);
            if (at >= m_order.size())
                break;
            const std::size_t index = m_order[at];
            extract(index, (*m_entries)[index], reader, buffer);
        }
    }

    // A read that failed after the entry opened: damage, or, until another
    // encrypted entry has confirmed it, a wrong password (AES codes and
    // ZipCrypto checksums fail alike).
    void readFailed(const Entry& entry, const ZipEntryReader& reader)
    {
        const QString message = QString::fromUtf8(entry.name) + QStringLiteral(": ") + reader.failure().message;
        if (m_sink.stopToken().requested())
            m_sink.stopRequested();
        else if (entry.encrypted)
            m_sink.encryptedEntryFailed(message);
        else
            m_sink.fail(message, Outcome::Status::Damaged);
    }

    void extract(zip_uint64_t index, const Entry& entry, ZipEntryReader& reader, std::vector<char>& buffer)
    {
        if (entry.name.isEmpty()) {
            m_sink.entrySkipped();
            return;
        }
        const QStringList path = entry.path();
        const EntryMeta meta = entry.meta();
        if (entry.folder) {
            m_sink.folder(path, meta);
            return;
        }
        if (const Outcome opened = reader.open(index, entry.encrypted, m_secret); !opened.ok()) {
            const QString message = QString::fromUtf8(entry.name) + QStringLiteral(": ") + opened.message;
            if (opened.status == Outcome::Status::WrongPassword)
                m_sink.passwordRefused(message);
            else
                m_sink.fail(message, opened.status);
            return;
        }
        if (entry.link) {
            QByteArray target;
            qint64 n = 0;
            buffer.resize(kChunk);
            while (target.size() <= kMaxLinkTarget && (n = reader.read(buffer.data(), kChunk)) > 0)
                target.append(buffer.data(), static_cast<qsizetype>(n));
            if (n < 0) {
                readFailed(entry, reader);
            } else {
                m_sink.link(path, target, meta);
            }
            reader.close();
            return;
        }
        PendingFile out;
        if (!m_sink.beginFile(path, out, meta)) {
            reader.close();
            return;
        }
        bool written = true;
        bool complete = true;
        if (reader.canReadWhole()) {
            complete = reader.readWhole(&buffer).ok();
            written = !complete || m_sink.write(out, buffer.data(), static_cast<qint64>(buffer.size()));
        } else {
            // Stops are looked at for every chunk, so a long entry stops too.
            const StopToken& stop = m_sink.stopToken();
            buffer.resize(kChunk);
            qint64 n = 0;
            while (written && !stop.requested() && (n = reader.read(buffer.data(), kChunk)) > 0)
                written = m_sink.write(out, buffer.data(), n);
            complete = n == 0 && !stop.requested();
        }
        if (written && !complete) {
            m_sink.discard(out);
            readFailed(entry, reader);
        } else if (written && m_sink.commitFile(out, meta) && entry.encrypted) {
            m_sink.passwordConfirmed();
        }
        reader.close();
    }

    EntrySink& m_sink;
    const bool m_orderMatters;
    const QByteArray m_secret;
    const std::vector<bool>* m_selection;
    zip_t* m_archive = nullptr; // the slice being placed
    const std::vector<Entry>* m_entries = nullptr;
    std::vector<std::size_t> m_order;
    std::mutex m_archiveLock;
    std::atomic<std::size_t> m_next = 0;
};

} // namespace

// What the first walk over the directory learns, kept for the extraction:
// a few values, and the entries of a directory that is one slice.
struct ZipReader::Survey {
    std::vector<zip_uint64_t> firstEntries; // each slice's first entry, and the total
    qint64 bytes = 0; // content of all entries
    bool encrypted = false;
    // The entry to test a password on: the smallest one that has data (an
    // empty one carries no checksum worth the name).
    int probeSlice = -1;
    zip_uint64_t probeIndex = 0;
    zip_uint64_t probeSize = 0;
    bool probeHasData = false;
    // Names without a declared encoding share one code page, chosen from
    // all of them together.
    QByteArray legacyNames; // joined by newlines until the choice
    std::vector<bool> legacySlices;
    QByteArray codePage = "UTF-8";
    qint64 refusedAt = -1; // the first unsafe name's entry
    QString refusedName;
    bool orderMatters = false;
    int listedSlice = -1;
    std::vector<Entry> listed;
};

ZipReader::ZipReader(const QString& path, qint64 sliceEntries)
    : m_path(path)
    , m_sliceEntries(sliceEntries)
{
}

ZipReader::~ZipReader() = default;

Outcome ZipReader::open(const std::optional<QString>&)
{
    m_directory = std::make_unique<ZipDirectory>(m_path, m_sliceEntries);
    m_survey = std::make_unique<Survey>();
    m_opened = m_directory->isOpen() ? survey() : m_directory->failure();
    // The last part of a split set, without the parts before it.
    if (m_opened.status == Outcome::Status::MissingPart) {
        m_opened.message = QStringLiteral("a part of the archive is missing: ") + QFileInfo(m_path).completeBaseName()
            + QStringLiteral(".z01");
    }
    return m_opened;
}

Outcome ZipReader::survey()
{
    Survey& survey = *m_survey;
    EntryOrder order;
    const int slices = m_directory->sliceCount();
    survey.firstEntries.assign(1, 0);
    survey.legacySlices.assign(static_cast<std::size_t>(slices), false);
    zip_stat_t stat;
    for (int slice = 0; slice < slices; ++slice) {
        zip_t* archive = m_directory->open(slice);
        if (!archive)
            return m_directory->failure();
        // A directory of one slice stays open for the extraction, with its
        // entries listed.
        const bool keep = slices == 1;
        const zip_uint64_t first = survey.firstEntries.back();
        const zip_uint64_t count = entryCount(archive);
        survey.firstEntries.push_back(first + count);
        std::vector<Entry> entries(keep ? count : 0);
        for (zip_uint64_t i = 0; i < count; ++i) {
            if (zip_stat_index(archive, i, 0, &stat) != 0)
                zip_stat_init(&stat);
            survey.bytes += contentSize(stat);
            if (isEncrypted(stat)) {
                survey.encrypted = true;
                const bool hasData = stat.size > 0;
                if (survey.probeSlice < 0 || (hasData && !survey.probeHasData)
                    || (hasData == survey.probeHasData && stat.size < survey.probeSize)) {
                    survey.probeSlice = slice;
                    survey.probeIndex = i;
                    survey.probeSize = stat.size;
                    survey.probeHasData = hasData;
                }
            }
            const QByteArray raw = rawName(archive, i);
            if (isLegacy(archive, i, raw)) {
                survey.legacyNames += raw + '\n';
                survey.legacySlices[static_cast<std::size_t>(slice)] = true;
                continue;
            }
            const Named name = named(archive, i, raw, nullptr);
            const std::optional<QStringList> path = EntryNames::split(name.name);
            if (!path) {
                if (survey.refusedAt < 0) {
                    survey.refusedAt = static_cast<qint64>(first + i);
                    survey.refusedName = name.name;
                }
                continue;
            }
            order.add(*path, name.folder);
            if (keep)
                entries[i] = makeEntry(archive, i, name, *path, stat);
        }
        if (keep && !survey.legacySlices.back()) {
            survey.listed = std::move(entries);
            survey.listedSlice = slice;
        }
    }
    if (!survey.legacyNames.isEmpty()) {
        if (const Outcome checked = checkLegacyNames(order); !checked.ok())
            return checked;
    }
    survey.orderMatters = order.matters();
    return {};
}

// A second walk, over the slices with legacy names only, once their code
// page is chosen: their names' safety and places.
Outcome ZipReader::checkLegacyNames(EntryOrder& order)
{
    Survey& survey = *m_survey;
    survey.codePage = NameDecoder::detect({ survey.legacyNames });
    survey.legacyNames = {};
    qCInfo(lcEngineZip, "entry names read as %s", survey.codePage.constData());
    const NameDecoder decoder(survey.codePage);
    const auto beforeRefused = [&](zip_uint64_t entry) {
        return survey.refusedAt < 0 || entry < static_cast<zip_uint64_t>(survey.refusedAt);
    };
    for (int slice = 0; slice < m_directory->sliceCount(); ++slice) {
        const zip_uint64_t first = survey.firstEntries[static_cast<std::size_t>(slice)];
        if (!survey.legacySlices[static_cast<std::size_t>(slice)])
            continue;
        if (!beforeRefused(first))
            break;
        zip_t* archive = m_directory->open(slice);
        if (!archive)
            return m_directory->failure();
        const zip_uint64_t count = entryCount(archive);
        for (zip_uint64_t i = 0; i < count && beforeRefused(first + i); ++i) {
            const QByteArray raw = rawName(archive, i);
            if (!isLegacy(archive, i, raw))
                continue;
            const Named name = named(archive, i, raw, &decoder);
            if (const std::optional<QStringList> path = EntryNames::split(name.name)) {
                order.add(*path, name.folder);
            } else {
                survey.refusedAt = static_cast<qint64>(first + i);
                survey.refusedName = name.name;
            }
        }
    }
    return {};
}

bool ZipReader::needsPassword() const
{
    return m_opened.ok() && m_survey->encrypted;
}

bool ZipReader::checkPassword(const QString& password)
{
    if (!m_opened.ok() || m_survey->probeSlice < 0)
        return true;
    // libzip checks the password's header bytes when the entry is opened.
    // Should the slice not open again, extract() reports it.
    zip_t* archive = m_directory->open(m_survey->probeSlice);
    if (!archive)
        return true;
    ZipEntryReader reader(archive);
    return reader.open(m_survey->probeIndex, true, password.toUtf8()).status != Outcome::Status::WrongPassword;
}

namespace {

// Every entry of one slice, ready to be placed; false, with the failure
// recorded, when a name is no longer what the survey checked.
bool listSlice(zip_t* archive, const NameDecoder& decoder, EntrySink& sink, std::vector<Entry>* entries)
{
    const zip_uint64_t count = entryCount(archive);
    entries->assign(count, Entry());
    zip_stat_t stat;
    for (zip_uint64_t i = 0; i < count; ++i) {
        const QByteArray raw = rawName(archive, i);
        const Named name = named(archive, i, raw, isLegacy(archive, i, raw) ? &decoder : nullptr);
        const std::optional<QStringList> path = sink.admit(name.name);
        if (!path)
            return false;
        if (zip_stat_index(archive, i, 0, &stat) != 0)
            zip_stat_init(&stat);
        (*entries)[i] = makeEntry(archive, i, name, *path, stat);
    }
    return true;
}

ArchiveEntry::Kind kindOf(const Named& name)
{
    if (name.folder)
        return ArchiveEntry::Kind::Folder;
    if (S_ISLNK(name.mode))
        return ArchiveEntry::Kind::Link;
    return ArchiveEntry::Kind::File;
}

} // namespace

Outcome ZipReader::list(const std::function<bool(const ArchiveEntry&)>& onEntry)
{
    if (!m_opened.ok())
        return m_opened;
    const NameDecoder decoder(m_survey->codePage);
    zip_stat_t stat;
    for (int slice = 0; slice < m_directory->sliceCount(); ++slice) {
        zip_t* archive = m_directory->open(slice);
        if (!archive)
            return m_directory->failure();
        const zip_uint64_t count = entryCount(archive);
        for (zip_uint64_t i = 0; i < count; ++i) {
            const QByteArray raw = rawName(archive, i);
            const Named name = named(archive, i, raw, isLegacy(archive, i, raw) ? &decoder : nullptr);
            if (zip_stat_index(archive, i, 0, &stat) != 0)
                zip_stat_init(&stat);
            ArchiveEntry entry;
            entry.path = name.name;
            entry.kind = kindOf(name);
            // A zip64 field past what a signed size holds is no size.
            constexpr zip_uint64_t kLargest = std::numeric_limits<qint64>::max();
            entry.size = (stat.valid & ZIP_STAT_SIZE) && stat.size <= kLargest ? static_cast<qint64>(stat.size) : -1;
            entry.packedSize = (stat.valid & ZIP_STAT_COMP_SIZE) && stat.comp_size <= kLargest
                ? static_cast<qint64>(stat.comp_size)
                : -1;
            entry.mtime = modificationTime(archive, i, stat);
            entry.encrypted = isEncrypted(stat);
            if (!onEntry(entry))
                return {};
        }
    }
    return {};
}

Outcome ZipReader::extract(EntrySink& sink, const ExtractRequest& request)
{
    if (!m_opened.ok())
        return m_opened;
    const Survey& survey = *m_survey;
    // Refused before anything is written: admit() records the failure.
    if (survey.refusedAt >= 0) {
        sink.admit(survey.refusedName);
        return sink.finish();
    }
    if (request.listed && !request.listed())
        return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("not extracted") };
    // Only a job with encrypted entries can end with a wrong password and
    // need its entries taken back.
    if (!sink.open(survey.encrypted))
        return sink.finish();
    const std::vector<bool>* selection = request.selection ? &*request.selection : nullptr;
    expectWork(sink, selection);
    sink.progress().start();
    const NameDecoder decoder(survey.codePage);
    ZipExtraction extraction(sink, survey.orderMatters, request.password.value_or(QString()).toUtf8(), selection);
    std::vector<Entry> listed;
    for (int slice = 0; slice < m_directory->sliceCount() && !sink.stopRequested(); ++slice) {
        zip_t* archive = m_directory->open(slice);
        if (!archive) {
            sink.fail(m_directory->failure());
            break;
        }
        const bool surveyed = slice == survey.listedSlice;
        if (!surveyed && !listSlice(archive, decoder, sink, &listed))
            break;
        extraction.run(
            archive, surveyed ? survey.listed : listed, survey.firstEntries[static_cast<std::size_t>(slice)]);
    }
    return sink.finish();
}

void ZipReader::expectWork(EntrySink& sink, const std::vector<bool>* selection)
{
    const Survey& survey = *m_survey;
    const qint64 count = static_cast<qint64>(survey.firstEntries.back());
    if (!selection) {
        sink.progress().expect(survey.bytes, count);
        return;
    }
    // A selection weighs only its own entries: one more walk over the
    // directory, which costs little beside extracting them.
    qint64 bytes = 0;
    qint64 entries = 0;
    zip_stat_t stat;
    for (int slice = 0; slice < m_directory->sliceCount(); ++slice) {
        zip_t* archive = m_directory->open(slice);
        if (!archive)
            return;
        const zip_uint64_t first = survey.firstEntries[static_cast<std::size_t>(slice)];
        for (zip_uint64_t i = 0; i < entryCount(archive); ++i) {
            if (first + i >= selection->size() || !(*selection)[first + i])
                continue;
            ++entries;
            if (zip_stat_index(archive, i, 0, &stat) == 0)
                bytes += contentSize(stat);
        }
    }
    sink.progress().expect(bytes, entries);
}
