#include "engine/extract/ZipReader.h"

#include "engine/JobStop.h"
#include "engine/extract/NameDecoder.h"
#include "engine/extract/ZipEntryReader.h"
#include "engine/safety/EntrySink.h"
#include "platform/Logging.h"

#include <QFile>
#include <QList>
#include <algorithm>
#include <sys/stat.h>
#include <vector>
#include <zip.h>

namespace {

constexpr zip_uint16_t kExtendedTimestamp = 0x5455;
constexpr qint64 kChunk = 1 << 20;
constexpr qint64 kMaxLinkTarget = 4096;

struct Entry {
    zip_uint64_t index = 0;
    QStringList path;
    bool folder = false;
    bool link = false;
    bool encrypted = false;
    bool aes = false; // AES rather than ZipCrypto
    EntryMeta meta;
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
    std::vector<Entry> entries(count);
    std::vector<QByteArray> raw(count);
    std::vector<bool> legacy(count, false);
    QList<QByteArray> legacyNames;
    for (zip_uint64_t i = 0; i < count; ++i) {
        raw[i] = QByteArray(zip_get_name(m_zip, i, ZIP_FL_ENC_RAW));
        if (isAscii(raw[i]))
            continue;
        if (QByteArray(zip_get_name(m_zip, i, ZIP_FL_ENC_STRICT)) == raw[i])
            continue; // unchanged by the CP437 reading: declared UTF-8
        legacy[i] = true;
        legacyNames.append(raw[i]);
    }
    const NameDecoder decoder(NameDecoder::detect(legacyNames));
    if (!legacyNames.isEmpty())
        qCInfo(lcEngineZip, "entry names read as %s", decoder.codePage().constData());

    zip_stat_t stat;
    for (zip_uint64_t i = 0; i < count; ++i) {
        Entry& entry = entries[i];
        entry.index = i;
        QString name = legacy[i] ? decoder.decode(raw[i]) : QString::fromUtf8(raw[i]);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(m_zip, i, 0, &opsys, &attributes);
        if (opsys != ZIP_OPSYS_UNIX)
            name.replace(u'\\', u'/'); // DOS and Windows tools may separate with backslashes
        const std::optional<QStringList> path = sink.admit(name);
        if (!path)
            return sink.finish();
        entry.path = *path;
        zip_stat_index(m_zip, i, 0, &stat);
        const mode_t mode = opsys == ZIP_OPSYS_UNIX ? static_cast<mode_t>(attributes >> 16) : 0;
        entry.folder = name.endsWith(u'/') || S_ISDIR(mode) || (opsys != ZIP_OPSYS_UNIX && (attributes & 0x10));
        entry.link = S_ISLNK(mode);
        entry.encrypted = (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
        entry.aes = entry.encrypted && stat.encryption_method != ZIP_EM_TRAD_PKWARE;
        if (mode & 0777)
            entry.meta.mode = mode & 07777;
        entry.meta.mtime = modificationTime(m_zip, i, stat);
    }
    if (!sink.open())
        return sink.finish();

    // The password is confirmed by the extraction itself: an encrypted
    // entry that decodes to its end with a matching checksum or
    // authentication code proves it. Until one has, a refused password
    // ends the job (the sink then removes what it made), and a ZipCrypto
    // entry whose data fails leaves the password in doubt.
    const QByteArray secret = password.value_or(QString()).toUtf8();
    std::vector<char> buffer(kChunk);
    ZipEntryReader reader(m_zip);
    bool passwordConfirmed = false;
    bool passwordInDoubt = false;
    auto readFailed = [&](const Entry& entry) {
        const QString message = entry.path.join(u'/') + QStringLiteral(": ") + reader.errorString();
        if (JobStop::requested())
            sink.stopRequested();
        else
            sink.fail(message);
        // An AES entry's check value passed, so its failure is damage; a
        // ZipCrypto entry's one-byte check says little.
        passwordInDoubt = passwordInDoubt || (entry.encrypted && !passwordConfirmed && !entry.aes);
    };

    for (const Entry& entry : entries) {
        if (sink.stopRequested())
            break;
        if (progress)
            progress(static_cast<qint64>(entry.index), static_cast<qint64>(count));
        if (entry.path.isEmpty())
            continue;
        if (entry.folder) {
            sink.folder(entry.path, entry.meta);
            continue;
        }
        if (!reader.open(entry.index, entry.encrypted, secret)) {
            if (reader.wrongPassword() && !passwordConfirmed) {
                sink.fail(entry.path.join(u'/') + QStringLiteral(": ") + reader.errorString(),
                    Outcome::Status::WrongPassword);
                break;
            }
            sink.fail(entry.path.join(u'/') + QStringLiteral(": ") + reader.errorString());
            continue;
        }
        if (entry.link) {
            QByteArray target;
            qint64 n = 0;
            while (target.size() <= kMaxLinkTarget && (n = reader.read(buffer.data(), kChunk)) > 0)
                target.append(buffer.data(), static_cast<qsizetype>(n));
            if (n < 0)
                readFailed(entry);
            else
                sink.link(entry.path, target, entry.meta);
            reader.close();
            continue;
        }
        PendingFile out;
        if (!sink.beginFile(entry.path, out, entry.meta)) {
            reader.close();
            continue;
        }
        qint64 n = 0;
        bool written = true;
        // Stops are looked at for every chunk, so a long entry stops too.
        while (written && !JobStop::requested() && (n = reader.read(buffer.data(), kChunk)) > 0)
            written = sink.write(out, buffer.data(), n);
        if (written && (n < 0 || JobStop::requested())) {
            sink.destination().discardFile(out);
            readFailed(entry);
        } else if (written && sink.commitFile(out, entry.meta) && entry.encrypted) {
            passwordConfirmed = true;
        }
        reader.close();
    }
    if (progress)
        progress(static_cast<qint64>(count), static_cast<qint64>(count));
    if (passwordInDoubt && !passwordConfirmed)
        sink.fail(QStringLiteral("no encrypted entry decoded right"), Outcome::Status::WrongPasswordOrDamage);
    return sink.finish();
}
