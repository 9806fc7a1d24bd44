#include "engine/extract/ZipReader.h"

#include "engine/JobStop.h"
#include "engine/extract/NameDecoder.h"
#include "engine/extract/WorkerThreads.h"
#include "engine/extract/ZipEntryReader.h"
#include "engine/safety/EntrySink.h"
#include "platform/Logging.h"

#include <QFile>
#include <QList>
#include <algorithm>
#include <atomic>
#include <cstring>
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
// Progress weighs an entry as one plus one per this many stored bytes.
constexpr zip_uint64_t kProgressUnit = 64 * 1024;

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
    qint64 weight() const { return 1 + static_cast<qint64>(storedSize / kProgressUnit); }
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
    // `total` weighs every entry of the archive, whichever slice it is in.
    ZipExtraction(
        EntrySink& sink, bool orderMatters, QByteArray secret, qint64 total, const ZipReader::EntryProgress& progress)
        : m_sink(sink)
        , m_orderMatters(orderMatters)
        , m_secret(std::move(secret))
        , m_progress(progress)
        , m_total(total)
    {
    }

    // Places one slice's entries, `archive` holding that slice.
    void run(zip_t* archive, const std::vector<Entry>& entries)
    {
        m_archive = archive;
        m_entries = &entries;
        m_next = 0;
        m_order.resize(entries.size());
        for (std::size_t i = 0; i < m_order.size(); ++i)
            m_order[i] = i;
        std::size_t workers = 1;
        if (!m_orderMatters) {
            std::stable_partition(
                m_order.begin(), m_order.end(), [&](std::size_t i) { return entries[i].storedSize > kEarlyStart; });
            workers = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), entries.size());
        }
        report();
        WorkerThreads::run(
            workers, [this] { work(); }, lcEngineZip);
    }

    // True once no further entry may be placed: a refused password, a stop
    // or a full disk.
    bool halted() { return m_halt || m_sink.stopRequested(); }

    // After the last slice.
    void finish()
    {
        report(true);
        if (m_passwordInDoubt && !m_passwordConfirmed)
            m_sink.fail(QStringLiteral("no encrypted entry decoded right"), Outcome::Status::WrongPasswordOrDamage);
    }

private:
    void work()
    {
        ZipEntryReader reader(m_archive, &m_archiveLock);
        std::vector<char> buffer;
        while (!m_halt && !m_sink.stopRequested()) {
            const std::size_t at = m_next.fetch_add(1);
            if (at >= m_order.size())
                break;
            const std::size_t index = m_order[at];
            const Entry& entry = (*m_entries)[index];
            extract(index, entry, reader, buffer);
            m_done += entry.weight();
            report();
        }
    }

    // Thinned out further by the caller. Only values above the last one
    // reported go out, so two workers that finish together report once;
    // the last call waits for the lock.
    void report(bool last = false)
    {
        if (!m_progress)
            return;
        std::unique_lock lock(m_progressLock, std::defer_lock);
        if (last)
            lock.lock();
        else if (!lock.try_lock())
            return;
        const qint64 done = last ? m_total : std::min(m_done.load(), m_total);
        if (done > m_reported) {
            m_reported = done;
            m_progress(done, m_total);
        }
    }

    // The password is confirmed by the extraction itself: an encrypted
    // entry that decodes to its end with a matching checksum or
    // authentication code proves it. Until one has, a refused password
    // ends the job (the sink then removes what it made), and a ZipCrypto
    // entry whose data fails leaves the password in doubt.
    void readFailed(const Entry& entry, const ZipEntryReader& reader)
    {
        const QString message = QString::fromUtf8(entry.name) + QStringLiteral(": ") + reader.errorString();
        if (JobStop::requested())
            m_sink.stopRequested();
        else
            m_sink.fail(message);
        // An AES entry's check value passed, so its failure is damage; a
        // ZipCrypto entry's one-byte check says little.
        if (entry.encrypted && !m_passwordConfirmed && !entry.aes)
            m_passwordInDoubt = true;
    }

    void extract(zip_uint64_t index, const Entry& entry, ZipEntryReader& reader, std::vector<char>& buffer)
    {
        if (entry.name.isEmpty())
            return;
        const QStringList path = entry.path();
        const EntryMeta meta = entry.meta();
        if (entry.folder) {
            m_sink.folder(path, meta);
            return;
        }
        if (!reader.open(index, entry.encrypted, m_secret)) {
            const QString message = QString::fromUtf8(entry.name) + QStringLiteral(": ") + reader.errorString();
            if (reader.wrongPassword() && !m_passwordConfirmed) {
                m_sink.fail(message, Outcome::Status::WrongPassword);
                m_halt = true;
            } else {
                m_sink.fail(message);
            }
            return;
        }
        if (entry.link) {
            QByteArray target;
            qint64 n = 0;
            buffer.resize(kChunk);
            while (target.size() <= kMaxLinkTarget && (n = reader.read(buffer.data(), kChunk)) > 0)
                target.append(buffer.data(), static_cast<qsizetype>(n));
            if (n < 0)
                readFailed(entry, reader);
            else
                m_sink.link(path, target, meta);
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
            complete = reader.readWhole(&buffer);
            written = !complete || m_sink.write(out, buffer.data(), static_cast<qint64>(buffer.size()));
        } else {
            // Stops are looked at for every chunk, so a long entry stops too.
            buffer.resize(kChunk);
            qint64 n = 0;
            while (written && !JobStop::requested() && (n = reader.read(buffer.data(), kChunk)) > 0)
                written = m_sink.write(out, buffer.data(), n);
            complete = n == 0 && !JobStop::requested();
        }
        if (written && !complete) {
            m_sink.destination().discardFile(out);
            readFailed(entry, reader);
        } else if (written && m_sink.commitFile(out, meta) && entry.encrypted && !m_passwordConfirmed.exchange(true)) {
            m_sink.passwordConfirmed();
        }
        reader.close();
    }

    EntrySink& m_sink;
    const bool m_orderMatters;
    const QByteArray m_secret;
    const ZipReader::EntryProgress& m_progress;
    const qint64 m_total;
    zip_t* m_archive = nullptr; // the slice being placed
    const std::vector<Entry>* m_entries = nullptr;
    std::vector<std::size_t> m_order;
    std::mutex m_archiveLock;
    std::mutex m_progressLock;
    std::atomic<std::size_t> m_next = 0;
    std::atomic<qint64> m_done = 0;
    qint64 m_reported = -1; // under m_progressLock
    std::atomic<bool> m_halt = false; // a refused password: no further entry
    std::atomic<bool> m_passwordConfirmed = false;
    std::atomic<bool> m_passwordInDoubt = false;
};

} // namespace

// What the first walk over the directory learns, kept for the extraction:
// a few values, and the entries of a directory that is one slice.
struct ZipReader::Survey {
    std::vector<zip_uint64_t> firstEntries; // each slice's first entry, and the total
    qint64 weight = 0; // the progress total
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
    : m_directory(std::make_unique<ZipDirectory>(path, sliceEntries))
    , m_survey(std::make_unique<Survey>())
{
    m_error = m_directory->errorString();
    if (isOpen())
        survey();
}

ZipReader::~ZipReader() = default;

void ZipReader::survey()
{
    Survey& survey = *m_survey;
    EntryOrder order;
    const int slices = m_directory->sliceCount();
    survey.firstEntries.assign(1, 0);
    survey.legacySlices.assign(static_cast<std::size_t>(slices), false);
    zip_stat_t stat;
    for (int slice = 0; slice < slices; ++slice) {
        zip_t* archive = m_directory->open(slice);
        if (!archive) {
            m_error = m_directory->errorString();
            return;
        }
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
            survey.weight += 1 + static_cast<qint64>(storedSize(stat) / kProgressUnit);
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
            const std::optional<QStringList> path = SafeDestination::splitEntryName(name.name);
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
    if (!survey.legacyNames.isEmpty() && !checkLegacyNames(order))
        return;
    survey.orderMatters = order.matters();
}

// A second walk, over the slices with legacy names only, once their code
// page is chosen: their names' safety and places.
bool ZipReader::checkLegacyNames(EntryOrder& order)
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
        if (!archive) {
            m_error = m_directory->errorString();
            return false;
        }
        const zip_uint64_t count = entryCount(archive);
        for (zip_uint64_t i = 0; i < count && beforeRefused(first + i); ++i) {
            const QByteArray raw = rawName(archive, i);
            if (!isLegacy(archive, i, raw))
                continue;
            const Named name = named(archive, i, raw, &decoder);
            if (const std::optional<QStringList> path = SafeDestination::splitEntryName(name.name)) {
                order.add(*path, name.folder);
            } else {
                survey.refusedAt = static_cast<qint64>(first + i);
                survey.refusedName = name.name;
            }
        }
    }
    return true;
}

bool ZipReader::isPasswordProtected() const
{
    return isOpen() && m_survey->encrypted;
}

bool ZipReader::checkPassword(const QString& password) const
{
    if (!isOpen() || m_survey->probeSlice < 0)
        return true;
    // libzip checks the password's header bytes when the entry is opened.
    // Should the slice not open again, extractTo() reports it.
    zip_t* archive = m_directory->open(m_survey->probeSlice);
    if (!archive)
        return true;
    ZipEntryReader reader(archive);
    return reader.open(m_survey->probeIndex, true, password.toUtf8());
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

} // namespace

Outcome ZipReader::extractTo(
    const QString& folder, const std::optional<QString>& password, const EntryProgress& progress) const
{
    if (!isOpen())
        return { .status = Outcome::Status::Failed, .message = QStringLiteral("cannot open the archive: ") + m_error };
    const Survey& survey = *m_survey;
    EntrySink sink(folder, lcEngineZip);
    // Refused before anything is written: admit() records the failure.
    if (survey.refusedAt >= 0) {
        sink.admit(survey.refusedName);
        return sink.finish();
    }
    // Only a job with encrypted entries can end with a wrong password and
    // need its entries taken back.
    if (!sink.open(survey.encrypted))
        return sink.finish();
    const NameDecoder decoder(survey.codePage);
    ZipExtraction extraction(sink, survey.orderMatters, password.value_or(QString()).toUtf8(), survey.weight, progress);
    std::vector<Entry> listed;
    for (int slice = 0; slice < m_directory->sliceCount() && !extraction.halted(); ++slice) {
        zip_t* archive = m_directory->open(slice);
        if (!archive) {
            sink.fail(QStringLiteral("cannot open the archive: ") + m_directory->errorString());
            break;
        }
        const bool surveyed = slice == survey.listedSlice;
        if (!surveyed && !listSlice(archive, decoder, sink, &listed))
            break;
        extraction.run(archive, surveyed ? survey.listed : listed);
    }
    extraction.finish();
    return sink.finish();
}
