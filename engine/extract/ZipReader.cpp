#include "engine/extract/ZipReader.h"

#include "engine/JobStop.h"
#include "engine/extract/NameDecoder.h"
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

// Puts the listed entries on the disk on every core: each worker takes the
// next entry, reads it through one shared libzip handle (the reading of
// stored bytes is serialized, their decoding is not) and places it through
// the job's sink. Small entries are inflated whole by libdeflate, larger
// ones streamed through zlib.
class ZipExtraction final {
public:
    ZipExtraction(zip_t* archive, EntrySink& sink, const std::vector<Entry>& entries, bool orderMatters,
        QByteArray secret, const ZipReader::EntryProgress& progress)
        : m_archive(archive)
        , m_sink(sink)
        , m_entries(entries)
        , m_orderMatters(orderMatters)
        , m_secret(std::move(secret))
        , m_progress(progress)
    {
        for (const Entry& entry : entries)
            m_total += entry.weight();
    }

    void run()
    {
        m_order.resize(m_entries.size());
        for (std::size_t i = 0; i < m_order.size(); ++i)
            m_order[i] = i;
        std::size_t workers = 1;
        if (!m_orderMatters) {
            std::stable_partition(m_order.begin(), m_order.end(),
                [this](std::size_t i) { return m_entries[i].storedSize > kEarlyStart; });
            workers = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), m_entries.size());
        }
        report();
        std::vector<std::thread> threads;
        for (std::size_t i = 1; i < workers; ++i) {
            try {
                threads.emplace_back([this] { work(); });
            } catch (const std::system_error& error) {
                qCWarning(lcEngineZip, "extracting on fewer threads: %s", error.what());
                break;
            }
        }
        work();
        for (std::thread& thread : threads)
            thread.join();
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
            extract(index, m_entries[index], reader, buffer);
            m_done += m_entries[index].weight();
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
        } else if (written && m_sink.commitFile(out, meta) && entry.encrypted) {
            m_passwordConfirmed = true;
        }
        reader.close();
    }

    zip_t* const m_archive;
    EntrySink& m_sink;
    const std::vector<Entry>& m_entries;
    const bool m_orderMatters;
    const QByteArray m_secret;
    const ZipReader::EntryProgress& m_progress;
    std::vector<std::size_t> m_order;
    std::mutex m_archiveLock;
    std::mutex m_progressLock;
    std::atomic<std::size_t> m_next = 0;
    std::atomic<qint64> m_done = 0;
    qint64 m_total = 0;
    qint64 m_reported = -1; // under m_progressLock
    std::atomic<bool> m_halt = false; // a refused password: no further entry
    std::atomic<bool> m_passwordConfirmed = false;
    std::atomic<bool> m_passwordInDoubt = false;
};

} // namespace

ZipReader::ZipReader(const QString& path)
{
    int error = 0;
    m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!m_zip) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, error);
        m_error = QString::fromLocal8Bit(zip_error_strerror(&zipError));
        zip_error_fini(&zipError);
    }
}

ZipReader::~ZipReader()
{
    if (m_zip)
        zip_discard(m_zip);
}

bool ZipReader::isPasswordProtected() const
{
    if (!m_zip)
        return false;
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    zip_stat_t stat;
    for (zip_int64_t i = 0; i < count; ++i) {
        if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(i), 0, &stat) == 0
            && (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return true;
    }
    return false;
}

qint64 ZipReader::passwordProbe() const
{
    // The smallest entry that has data: an empty one carries no checksum
    // worth the name, so it is taken only when nothing else is encrypted.
    qint64 best = -1;
    zip_uint64_t bestSize = 0;
    bool bestHasData = false;
    const zip_int64_t count = m_zip ? zip_get_num_entries(m_zip, 0) : 0;
    zip_stat_t stat;
    for (zip_int64_t i = 0; i < count; ++i) {
        if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(i), 0, &stat) != 0
            || !(stat.valid & ZIP_STAT_ENCRYPTION_METHOD) || stat.encryption_method == ZIP_EM_NONE)
            continue;
        const bool hasData = stat.size > 0;
        if (best < 0 || (hasData && !bestHasData) || (hasData == bestHasData && stat.size < bestSize)) {
            best = i;
            bestSize = stat.size;
            bestHasData = hasData;
        }
    }
    return best;
}

bool ZipReader::checkPassword(const QString& password) const
{
    // libzip checks the password's header bytes when the entry is opened.
    const qint64 probe = passwordProbe();
    if (probe < 0)
        return true;
    ZipEntryReader reader(m_zip);
    return reader.open(static_cast<zip_uint64_t>(probe), true, password.toUtf8());
}

Outcome ZipReader::extractTo(
    const QString& folder, const std::optional<QString>& password, const EntryProgress& progress) const
{
    if (!m_zip)
        return { .status = Outcome::Status::Failed, .message = QStringLiteral("cannot open the archive: ") + m_error };
    const auto count = static_cast<zip_uint64_t>(std::max<zip_int64_t>(0, zip_get_num_entries(m_zip, 0)));
    EntrySink sink(folder, lcEngineZip);

    // Names: UTF-8 when flagged (or given by a Unicode path field, which
    // libzip substitutes); all others share one detected code page.
    // The raw names stay in libzip's keeping; only the legacy ones are
    // copied, for the detection.
    std::vector<Entry> entries(count);
    std::vector<bool> legacy(count, false);
    QList<QByteArray> legacyNames;
    for (zip_uint64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(m_zip, i, ZIP_FL_ENC_RAW);
        const QByteArray raw = QByteArray::fromRawData(name, name ? static_cast<qsizetype>(std::strlen(name)) : 0);
        if (isAscii(raw))
            continue;
        if (QByteArray(zip_get_name(m_zip, i, ZIP_FL_ENC_STRICT)) == raw)
            continue; // unchanged by the CP437 reading: declared UTF-8
        legacy[i] = true;
        legacyNames.append(QByteArray(raw.constData(), raw.size()));
    }
    const NameDecoder decoder(NameDecoder::detect(legacyNames));
    if (!legacyNames.isEmpty())
        qCInfo(lcEngineZip, "entry names read as %s", decoder.codePage().constData());
    legacyNames.clear();

    zip_stat_t stat;
    EntryOrder order;
    bool anyEncrypted = false;
    for (zip_uint64_t i = 0; i < count; ++i) {
        Entry& entry = entries[i];
        const char* raw = zip_get_name(m_zip, i, ZIP_FL_ENC_RAW);
        QString name = legacy[i] ? decoder.decode(QByteArray(raw)) : QString::fromUtf8(raw);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(m_zip, i, 0, &opsys, &attributes);
        if (opsys != ZIP_OPSYS_UNIX)
            name.replace(u'\\', u'/'); // DOS and Windows tools may separate with backslashes
        const std::optional<QStringList> path = sink.admit(name);
        if (!path)
            return sink.finish();
        zip_stat_index(m_zip, i, 0, &stat);
        const mode_t mode = opsys == ZIP_OPSYS_UNIX ? static_cast<mode_t>(attributes >> 16) : 0;
        entry.name = path->join(u'/').toUtf8();
        entry.folder = name.endsWith(u'/') || S_ISDIR(mode) || (opsys != ZIP_OPSYS_UNIX && (attributes & 0x10));
        entry.link = S_ISLNK(mode);
        entry.encrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
        entry.aes = entry.encrypted && stat.encryption_method != ZIP_EM_TRAD_PKWARE;
        entry.mode = (mode & 0777) ? mode & 07777 : 0;
        if (const std::optional<timespec> mtime = modificationTime(m_zip, i, stat)) {
            entry.mtime = mtime->tv_sec;
            entry.hasMtime = true;
        }
        entry.storedSize = (stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0;
        order.add(*path, entry.folder);
        anyEncrypted = anyEncrypted || entry.encrypted;
    }
    legacy = {};
    // Only a job with encrypted entries can end with a wrong password and
    // need its entries taken back.
    if (!sink.open(anyEncrypted))
        return sink.finish();
    ZipExtraction extraction(m_zip, sink, entries, order.matters(), password.value_or(QString()).toUtf8(), progress);
    extraction.run();
    return sink.finish();
}
