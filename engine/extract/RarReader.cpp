#include "engine/extract/RarReader.h"

#include "engine/JobStop.h"
#include "engine/extract/RarStructure.h"
#include "engine/extract/WorkerThreads.h"
#include "engine/safety/EntrySink.h"
#include "platform/Logging.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unrar/dll.hpp>

namespace {

// Link kinds of RARHeaderDataEx::RedirType.
constexpr unsigned kRedirUnixSymlink = 1;
constexpr unsigned kRedirWindowsSymlink = 2;
constexpr unsigned kRedirJunction = 3;
constexpr unsigned kRedirHardLink = 4;
constexpr unsigned kRedirFileCopy = 5;
constexpr unsigned kHostUnix = 3;
// Sizes from here on stand for "unknown" (archives written from a stream).
constexpr quint64 kUnknownSize = quint64(1) << 62;
constexpr qsizetype kMaxLinkTarget = 4096;
// Seconds from 1601-01-01 (Windows file times) to 1970-01-01.
constexpr quint64 kFileTimeEpoch = 11644473600ULL;

QString rarError(int code)
{
    switch (code) {
    case ERAR_SUCCESS:
    case ERAR_END_ARCHIVE:
        return {};
    case ERAR_NO_MEMORY:
        return QStringLiteral("not enough memory");
    case ERAR_BAD_DATA:
        return QStringLiteral("damaged data or wrong password");
    case ERAR_BAD_ARCHIVE:
        return QStringLiteral("not a valid archive");
    case ERAR_UNKNOWN_FORMAT:
        return QStringLiteral("unknown archive format");
    case ERAR_EOPEN:
        return QStringLiteral("cannot open the archive or a volume");
    case ERAR_ECREATE:
    case ERAR_EWRITE:
        return QStringLiteral("write error");
    case ERAR_ECLOSE:
        return QStringLiteral("close error");
    case ERAR_EREAD:
        return QStringLiteral("read error");
    case ERAR_MISSING_PASSWORD:
        return QStringLiteral("a password is needed");
    case ERAR_BAD_PASSWORD:
        return QStringLiteral("wrong password");
    default:
        return QStringLiteral("error %1").arg(code);
    }
}

// State shared with libunrar's callback for one open archive.
struct Session {
    const std::optional<QString>* password = nullptr;
    PendingFile* out = nullptr;
    bool writeFailed = false;
    int writeError = 0;
    quint64 written = 0; // bytes of the current entry
    // Bytes decoded, for the progress; called on the decoding thread.
    std::function<void(quint64)> onDecoded;
};

int CALLBACK onRarEvent(UINT message, LPARAM userData, LPARAM p1, LPARAM p2)
{
    auto* session = reinterpret_cast<Session*>(userData);
    switch (message) {
    case UCM_NEEDPASSWORDW: {
        if (!session->password || !session->password->has_value() || p2 <= 0)
            return -1;
        const std::wstring text = session->password->value().toStdWString();
        auto* buffer = reinterpret_cast<wchar_t*>(p1);
        const size_t size = std::min(text.size(), static_cast<size_t>(p2) - 1);
        std::wmemcpy(buffer, text.data(), size);
        buffer[size] = L'\0';
        return 1;
    }
    case UCM_PROCESSDATA: {
        if (JobStop::requested())
            return -1; // ends the entry at once; the job is cancelled
        const auto* data = reinterpret_cast<const char*>(p1);
        const auto size = static_cast<qint64>(p2);
        if (session->out && !session->out->write(data, size)) {
            session->writeFailed = true;
            session->writeError = errno;
            return -1;
        }
        session->written += static_cast<quint64>(size);
        if (session->onDecoded)
            session->onDecoded(static_cast<quint64>(size));
        return 1;
    }
    case UCM_CHANGEVOLUME:
    case UCM_CHANGEVOLUMEW:
        return p2 == RAR_VOL_ASK ? -1 : 1; // a missing volume ends the job
    default:
        return 0;
    }
}

// An open libunrar handle, closed on scope exit.
class Archive final {
public:
    Archive(const QString& path, unsigned mode, Session* session)
    {
        m_name = QFile::encodeName(path);
        m_wideName = path.toStdWString();
        std::memset(&m_data, 0, sizeof m_data);
        m_data.ArcName = m_name.data();
        m_data.ArcNameW = m_wideName.data();
        m_data.OpenMode = mode;
        m_data.Callback = onRarEvent;
        m_data.UserData = reinterpret_cast<LPARAM>(session);
        m_handle = RAROpenArchiveEx(&m_data);
        if (m_handle && m_data.OpenResult != ERAR_SUCCESS) {
            RARCloseArchive(m_handle);
            m_handle = nullptr;
        }
    }
    ~Archive()
    {
        if (m_handle)
            RARCloseArchive(m_handle);
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    HANDLE handle() const { return m_handle; }
    int openResult() const
    {
        return m_handle ? ERAR_SUCCESS : (m_data.OpenResult ? static_cast<int>(m_data.OpenResult) : ERAR_EOPEN);
    }
    unsigned flags() const { return m_data.Flags; }

    // Reads the next header into `header`; the link target buffer is reset each time.
    int next(RARHeaderDataEx& header)
    {
        std::memset(&header, 0, sizeof header);
        std::fill(m_linkTarget.begin(), m_linkTarget.end(), L'\0');
        header.RedirName = m_linkTarget.data();
        header.RedirNameSize = static_cast<unsigned>(m_linkTarget.size());
        return RARReadHeaderEx(m_handle, &header);
    }

private:
    QByteArray m_name;
    std::wstring m_wideName;
    RAROpenArchiveDataEx m_data;
    HANDLE m_handle = nullptr;
    std::wstring m_linkTarget = std::wstring(1024, L'\0');
};

std::optional<timespec> modificationTime(const RARHeaderDataEx& header)
{
    const quint64 fileTime = static_cast<quint64>(header.MtimeHigh) << 32 | header.MtimeLow;
    if (fileTime != 0) {
        const quint64 seconds = fileTime / 10000000ULL;
        if (seconds < kFileTimeEpoch)
            return std::nullopt;
        return timespec { static_cast<time_t>(seconds - kFileTimeEpoch),
            static_cast<long>(fileTime % 10000000ULL) * 100 };
    }
    // DOS date and time, local time.
    const unsigned dos = header.FileTime;
    struct tm t { };
    t.tm_sec = static_cast<int>((dos & 0x1F) * 2);
    t.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    t.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    t.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    t.tm_mon = static_cast<int>(((dos >> 21) & 0x0F) - 1);
    t.tm_year = static_cast<int>(((dos >> 25) & 0x7F) + 80);
    t.tm_isdst = -1;
    const time_t seconds = mktime(&t);
    return seconds == -1 ? std::nullopt : std::optional<timespec>(timespec { seconds, 0 });
}

// The first volume of the set that `path` belongs to, for names of the
// form "name.partN.rar"; empty for other names.
QString firstVolume(const QString& path)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(.*\\.part)(\\d+)(\\.rar)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(path);
    if (!match.hasMatch())
        return {};
    return match.captured(1) + QStringLiteral("1").rightJustified(match.capturedLength(2), u'0') + match.captured(3);
}

// A Windows link target as a relative Unix one; absolute ones ("C:\\…",
// "\\??\\…", "\\…") keep a leading "/" and are refused as leaving.
QByteArray windowsLinkTarget(const QString& target)
{
    QString unix = target;
    unix.replace(u'\\', u'/');
    if (unix.size() >= 2 && unix.at(1) == u':')
        unix.prepend(u'/');
    return QFile::encodeName(unix);
}

// libunrar hands a RAR4 link's target, the entry's data, to its own link
// code only: it makes the link in a private folder, to be read back. No
// value when it refused to make it (its checks of targets that leave are
// much like SafeDestination's).
std::optional<QByteArray> rar4LinkTarget(HANDLE handle, int* processed)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        *processed = RARProcessFile(handle, RAR_SKIP, nullptr, nullptr);
        return *processed == ERAR_SUCCESS ? std::optional<QByteArray>() : std::nullopt;
    }
    const QString linkPath = scratch.filePath(QStringLiteral("link"));
    std::wstring destination = linkPath.toStdWString();
    *processed = RARProcessFileW(handle, RAR_EXTRACT, nullptr, destination.data());
    QByteArray target(kMaxLinkTarget, '\0');
    const ssize_t n
        = ::readlink(QFile::encodeName(linkPath).constData(), target.data(), static_cast<size_t>(target.size()));
    if (n <= 0 || n >= target.size())
        return std::nullopt;
    target.resize(n);
    return target;
}

// Puts a listed archive's entries on the disk. The entries of a non-solid
// archive are independent: every core then walks the archive with a handle
// of its own, takes the next entry that no other walker has taken and skips
// the rest, which costs a seek. A solid archive (each entry decoded from
// the ones before), or one whose order decides what ends up on the disk
// (links to earlier entries, one name twice, a file in a folder's way), is
// walked by one.
class RarExtraction final {
public:
    RarExtraction(const QString& path, const std::optional<QString>& password, EntrySink& sink, quint64 total,
        const ExtractProgress& progress)
        : m_path(path)
        , m_password(password)
        , m_sink(sink)
        , m_total(total)
        , m_progress(progress)
    {
    }

    // `keepWritten`: hard links and copies will ask for earlier files.
    void run(std::size_t entries, unsigned workers, bool keepWritten)
    {
        m_count = entries;
        m_single = workers <= 1;
        m_keepWritten = keepWritten;
        m_claimed = std::make_unique<std::atomic<bool>[]>(entries);
        WorkerThreads::run(
            workers, [this] { work(); }, lcEngineRar);
        if (JobStop::requested()) {
            m_sink.stopRequested();
        } else if (const int code = m_readError; code != ERAR_SUCCESS) {
            m_sink.fail(QStringLiteral("archive read error: ") + rarError(code),
                code == ERAR_BAD_PASSWORD ? Outcome::Status::WrongPassword : Outcome::Status::Failed);
        } else if (m_walkedToEnd && RarStructure::check(m_path) == RarStructure::Ending::Truncated) {
            m_sink.fail(QStringLiteral("the archive is cut short"));
        }
        if (m_passwordInDoubt && !m_passwordConfirmed)
            m_sink.fail(QStringLiteral("no encrypted entry decoded right"), Outcome::Status::WrongPasswordOrDamage);
    }

private:
    void work()
    {
        Session session;
        session.password = &m_password;
        session.onDecoded = [this](quint64 bytes) { decoded(bytes); };
        Archive archive(m_path, RAR_OM_EXTRACT, &session);
        if (!archive.handle()) {
            m_sink.fail(QStringLiteral("cannot open the archive: ") + rarError(archive.openResult()));
            return;
        }
        RARHeaderDataEx header;
        int code = ERAR_SUCCESS;
        for (std::size_t index = 0; !m_halt && !m_sink.stopRequested() && (code = archive.next(header)) == ERAR_SUCCESS;
             ++index) {
            // Entries past the listing appear only when the file changed meanwhile.
            const bool mine = index < m_count ? !m_claimed[index].exchange(true) : m_single;
            const int processed = mine ? extract(archive, session, header)
                                       : RARProcessFile(archive.handle(), RAR_SKIP, nullptr, nullptr);
            if (processed != ERAR_SUCCESS && !JobStop::requested() && !failed(header, processed))
                break;
            if (mine)
                decoded(0); // every entry is progress, one that gave no data too
        }
        if (code == ERAR_END_ARCHIVE)
            m_walkedToEnd = true;
        else if (code != ERAR_SUCCESS) {
            int none = ERAR_SUCCESS;
            m_readError.compare_exchange_strong(none, code);
        }
    }

    // Records libunrar's failure for an entry; false when the password was
    // refused and the walk ends.
    bool failed(const RARHeaderDataEx& header, int processed)
    {
        const QString message = QString::fromWCharArray(header.FileNameW) + QStringLiteral(": ") + rarError(processed);
        if (processed == ERAR_BAD_PASSWORD && !m_passwordConfirmed) {
            m_sink.fail(message, Outcome::Status::WrongPassword);
            m_halt = true;
            return false;
        }
        // RAR4 shows a wrong password only as damaged data of an encrypted entry.
        if ((header.Flags & RHDF_ENCRYPTED) && processed == ERAR_BAD_DATA && !m_passwordConfirmed)
            m_passwordInDoubt = true;
        m_sink.fail(message);
        return true;
    }

    // Thinned out further by the caller; monotonic because the count is
    // read under the lock.
    void decoded(quint64 bytes)
    {
        m_decoded += bytes;
        if (!m_progress || m_total == 0 || !m_progressLock.try_lock())
            return;
        m_progress(std::min(1.0, static_cast<double>(m_decoded.load()) / static_cast<double>(m_total)));
        m_progressLock.unlock();
    }

    bool wasWritten(const QString& key)
    {
        const std::lock_guard lock(m_writtenLock);
        return m_written.contains(key);
    }

    void noteWritten(const QString& key)
    {
        if (!m_keepWritten)
            return;
        const std::lock_guard lock(m_writtenLock);
        m_written.insert(key);
    }

    // Places the entry at the walk's position; libunrar's result.
    int extract(Archive& archive, Session& session, const RARHeaderDataEx& header)
    {
        auto process = [&](int operation) { return RARProcessFile(archive.handle(), operation, nullptr, nullptr); };
        const QString name = QString::fromWCharArray(header.FileNameW);
        const QStringList path = SafeDestination::splitEntryName(name).value_or(QStringList());
        const bool unixHost = header.HostOS == kHostUnix;
        const quint64 size = static_cast<quint64>(header.UnpSizeHigh) << 32 | header.UnpSize;
        EntryMeta meta;
        meta.mtime = modificationTime(header);
        if (unixHost && (header.FileAttr & 0777))
            meta.mode = header.FileAttr & 07777;
        const unsigned redirect = header.RedirType;
        const bool windowsLink = redirect == kRedirWindowsSymlink || redirect == kRedirJunction;
        const bool link = redirect == kRedirUnixSymlink || windowsLink || (unixHost && S_ISLNK(header.FileAttr));

        if (header.Flags & RHDF_SPLITBEFORE) {
            // Its beginning lies in a volume that was not read.
            m_sink.fail(name + QStringLiteral(": begins in an earlier volume"));
            return process(RAR_SKIP);
        }
        if (path.isEmpty())
            return process(RAR_SKIP);
        if (header.Flags & RHDF_DIRECTORY) {
            m_sink.folder(path, meta);
            return process(RAR_SKIP);
        }
        if (redirect == kRedirHardLink || redirect == kRedirFileCopy) {
            // Both name an entry stored earlier; only a file this job placed
            // may serve, never something that was already there.
            const int processed = process(RAR_SKIP);
            const QString targetName = QString::fromWCharArray(header.RedirName);
            const std::optional<QStringList> target = SafeDestination::splitEntryName(targetName);
            if (processed != ERAR_SUCCESS)
                return processed;
            if (!target || !wasWritten(target->join(u'/'))) {
                if (m_sink.destination().isTaken(path))
                    qCInfo(lcEngineRar, "kept existing %s", qUtf8Printable(path.join(u'/')));
                else
                    m_sink.fail(name + QStringLiteral(": refers to an entry not extracted by this job: ") + targetName);
            } else if (redirect == kRedirHardLink ? m_sink.hardLink(path, *target) : m_sink.copy(path, *target, meta)) {
                noteWritten(path.join(u'/'));
            }
            return processed;
        }
        if (link) {
            // RAR5 keeps the target in the header, RAR4 as the entry's data.
            int processed = ERAR_SUCCESS;
            const QString redirName = QString::fromWCharArray(header.RedirName);
            std::optional<QByteArray> target
                = windowsLink ? windowsLinkTarget(redirName) : QFile::encodeName(redirName);
            if (target->isEmpty())
                target = rar4LinkTarget(archive.handle(), &processed);
            else
                processed = process(RAR_SKIP);
            if (processed == ERAR_SUCCESS && !target)
                qCWarning(lcEngineRar, "entry not extracted, unsafe link: %s", qUtf8Printable(name));
            else if (processed == ERAR_SUCCESS)
                m_sink.link(path, *target, meta);
            return processed;
        }
        PendingFile out;
        if (!m_sink.beginFile(path, out, meta))
            return process(RAR_SKIP);
        session.out = &out;
        session.written = 0;
        session.writeFailed = false;
        const int processed = process(RAR_TEST);
        session.out = nullptr;
        const bool complete = session.written == size || size >= kUnknownSize;
        if (processed == ERAR_SUCCESS && !session.writeFailed && complete) {
            if (m_sink.commitFile(out, meta)) {
                noteWritten(path.join(u'/'));
                if ((header.Flags & RHDF_ENCRYPTED) && !m_passwordConfirmed.exchange(true))
                    m_sink.passwordConfirmed();
            }
        } else if (session.writeFailed) {
            m_sink.fileFailed(out, session.writeError);
        } else {
            m_sink.destination().discardFile(out);
            if (processed == ERAR_SUCCESS)
                m_sink.fail(name + QStringLiteral(": %1 of %2 bytes").arg(session.written).arg(size));
        }
        return processed;
    }

    const QString m_path;
    const std::optional<QString> m_password;
    EntrySink& m_sink;
    const quint64 m_total;
    const ExtractProgress& m_progress;
    std::size_t m_count = 0;
    bool m_single = true;
    bool m_keepWritten = false;
    std::unique_ptr<std::atomic<bool>[]> m_claimed;
    std::mutex m_progressLock;
    std::atomic<quint64> m_decoded = 0;
    std::mutex m_writtenLock;
    QSet<QString> m_written; // files this job placed, for hard links and copies
    std::atomic<bool> m_halt = false; // a refused password: no further entry
    std::atomic<bool> m_passwordConfirmed = false;
    std::atomic<bool> m_passwordInDoubt = false;
    std::atomic<bool> m_walkedToEnd = false;
    std::atomic<int> m_readError = ERAR_SUCCESS;
};

} // namespace

RarReader::RarReader(const QString& path, const std::optional<QString>& password)
    : m_path(path)
    , m_password(password)
{
    list();
}

void RarReader::list()
{
    Session session;
    session.password = &m_password;
    auto archive = std::make_unique<Archive>(m_path, RAR_OM_LIST, &session);
    // Like unrar, a set is read from its first volume whichever was chosen;
    // a later volume alone would yield the tail of a file as a whole one.
    if (archive->handle() && (archive->flags() & ROADF_VOLUME) && !(archive->flags() & ROADF_FIRSTVOLUME)) {
        const QString first = firstVolume(m_path);
        if (first.isEmpty() || !QFileInfo::exists(first)) {
            m_listResult = ERAR_EOPEN;
            m_error = QStringLiteral("not the first volume, and the first volume is missing");
            return;
        }
        qCInfo(lcEngineRar, "reading the set from its first volume %s", qUtf8Printable(first));
        m_path = first;
        archive = std::make_unique<Archive>(m_path, RAR_OM_LIST, &session);
    }
    if (!archive->handle()) {
        m_listResult = archive->openResult();
        m_headersEncrypted = m_listResult == ERAR_MISSING_PASSWORD || m_listResult == ERAR_BAD_PASSWORD;
        m_error = rarError(m_listResult);
        return;
    }
    m_headersEncrypted = archive->flags() & ROADF_ENCHEADERS;
    m_solid = archive->flags() & ROADF_SOLID;
    RARHeaderDataEx header;
    int code = ERAR_SUCCESS;
    while ((code = archive->next(header)) == ERAR_SUCCESS) {
        Entry entry;
        entry.name = QString::fromWCharArray(header.FileNameW);
        entry.size = static_cast<quint64>(header.UnpSizeHigh) << 32 | header.UnpSize;
        entry.encrypted = header.Flags & RHDF_ENCRYPTED;
        entry.folder = header.Flags & RHDF_DIRECTORY;
        entry.refersBack = header.RedirType == kRedirHardLink || header.RedirType == kRedirFileCopy;
        m_dataEncrypted = m_dataEncrypted || entry.encrypted;
        m_entries.push_back(std::move(entry));
        if ((code = RARProcessFile(archive->handle(), RAR_SKIP, nullptr, nullptr)) != ERAR_SUCCESS)
            break;
    }
    m_listResult = code;
    m_open = code == ERAR_END_ARCHIVE;
    if (!m_open) {
        m_headersEncrypted = m_headersEncrypted || code == ERAR_MISSING_PASSWORD;
        m_error = rarError(code);
    }
}

Outcome RarReader::extractTo(const QString& folder, const ExtractProgress& progress) const
{
    if (!m_open) {
        return { .status = m_listResult == ERAR_BAD_PASSWORD ? Outcome::Status::WrongPassword : Outcome::Status::Failed,
            .message = QStringLiteral("cannot read the archive: ") + m_error };
    }
    EntrySink sink(folder, lcEngineRar);
    quint64 total = 0;
    bool refersBack = false;
    EntryOrder order;
    for (const Entry& entry : m_entries) {
        const std::optional<QStringList> path = sink.admit(entry.name);
        if (!path)
            return sink.finish();
        order.add(*path, entry.folder);
        total += entry.size;
        refersBack = refersBack || entry.refersBack;
    }
    if (!sink.open(isPasswordProtected()))
        return sink.finish();

    // The password is confirmed by the extraction itself: the first
    // encrypted file that decodes with a matching checksum proves it. A
    // refused password, or (RAR4 shows no other sign) damaged data of every
    // encrypted file tried, ends the job with nothing of it left.
    const bool oneByOne = m_solid || refersBack || m_entries.size() < 2 || order.matters();
    const unsigned workers
        = oneByOne ? 1 : std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()), m_entries.size());
    RarExtraction extraction(m_path, m_password, sink, total, progress);
    extraction.run(m_entries.size(), workers, refersBack);
    return sink.finish(progress);
}
