#include "engine/extract/RarReader.h"

#include "engine/extract/RarStructure.h"
#include "engine/extract/WorkerThreads.h"
#include "engine/safety/EntryNames.h"
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

Outcome::Status rarStatus(int code)
{
    switch (code) {
    case ERAR_BAD_DATA:
    case ERAR_EREAD:
        return Outcome::Status::Damaged;
    case ERAR_BAD_ARCHIVE:
    case ERAR_UNKNOWN_FORMAT:
        return Outcome::Status::NotAnArchive;
    case ERAR_BAD_PASSWORD:
    case ERAR_MISSING_PASSWORD:
        return Outcome::Status::WrongPassword;
    case ERAR_ECREATE:
    case ERAR_EWRITE:
        return Outcome::Status::Failed;
    default:
        return Outcome::Status::Failed;
    }
}

// State shared with libunrar's callback for one open archive.
struct Session {
    const std::optional<QString>* password = nullptr;
    const StopToken* stop = nullptr;
    ProgressMeter* progress = nullptr;
    PendingFile* out = nullptr;
    bool writeFailed = false;
    int writeError = 0;
    bool missingVolume = false;
    quint64 written = 0; // bytes of the current entry
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
        if (session->stop && session->stop->requested())
            return -1; // ends the entry at once; the job is cancelled
        const auto* data = reinterpret_cast<const char*>(p1);
        const auto size = static_cast<qint64>(p2);
        if (session->out && !session->out->write(data, size)) {
            session->writeFailed = true;
            session->writeError = errno;
            return -1;
        }
        session->written += static_cast<quint64>(size);
        if (session->out && session->progress)
            session->progress->addBytes(size);
        return 1;
    }
    case UCM_CHANGEVOLUME:
    case UCM_CHANGEVOLUMEW:
        // A missing volume ends the job.
        if (p2 == RAR_VOL_ASK) {
            session->missingVolume = true;
            return -1;
        }
        return 1;
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
    RarExtraction(const QString& path, const std::optional<QString>& password, EntrySink& sink,
        const std::vector<bool>* selection)
        : m_path(path)
        , m_password(password)
        , m_sink(sink)
        , m_selection(selection)
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
        if (m_sink.stopToken().requested()) {
            m_sink.stopRequested();
        } else if (const int code = m_readError; code != ERAR_SUCCESS) {
            const QString message = QStringLiteral("archive read error: ") + rarError(code);
            if (code == ERAR_BAD_PASSWORD)
                m_sink.passwordRefused(message);
            else
                m_sink.fail(message, m_missingVolume ? Outcome::Status::MissingPart : rarStatus(code));
        } else if (m_walkedToEnd && !m_selection && RarStructure::check(m_path) == RarStructure::Ending::Truncated) {
            m_sink.fail(QStringLiteral("the archive is cut short"), Outcome::Status::Damaged);
        }
    }

private:
    bool selected(std::size_t index) const
    {
        return !m_selection || (index < m_selection->size() && (*m_selection)[index]);
    }

    void work()
    {
        Session session;
        session.password = &m_password;
        session.stop = &m_sink.stopToken();
        session.progress = &m_sink.progress();
        Archive archive(m_path, RAR_OM_EXTRACT, &session);
        if (!archive.handle()) {
            m_sink.fail(QStringLiteral("cannot open the archive: ") + rarError(archive.openResult()),
                rarStatus(archive.openResult()));
            return;
        }
        RARHeaderDataEx header;
        int code = ERAR_SUCCESS;
        for (std::size_t index = 0; !m_sink.stopRequested() && (code = archive.next(header)) == ERAR_SUCCESS; ++index) {
            // Entries past the listing appear only when the file changed meanwhile.
            const bool mine = index < m_count ? !m_claimed[index].exchange(true) : m_single;
            const bool wanted = mine && selected(index);
            const int processed = wanted ? extract(archive, session, header)
                                         : RARProcessFile(archive.handle(), RAR_SKIP, nullptr, nullptr);
            if (processed != ERAR_SUCCESS && !m_sink.stopToken().requested()
                && !failed(header, processed, session.missingVolume))
                break;
        }
        if (session.missingVolume)
            m_missingVolume = true;
        if (code == ERAR_END_ARCHIVE)
            m_walkedToEnd = true;
        else if (code != ERAR_SUCCESS) {
            int none = ERAR_SUCCESS;
            m_readError.compare_exchange_strong(none, code);
        }
    }

    // Records libunrar's failure for an entry; false when the password was
    // refused and the walk ends.
    bool failed(const RARHeaderDataEx& header, int processed, bool missingVolume)
    {
        const QString message = QString::fromWCharArray(header.FileNameW) + QStringLiteral(": ") + rarError(processed);
        if (processed == ERAR_BAD_PASSWORD) {
            m_sink.passwordRefused(message);
            return m_sink.isPasswordConfirmed();
        }
        // RAR4 shows a wrong password only as damaged data of an encrypted entry.
        if ((header.Flags & RHDF_ENCRYPTED) && processed == ERAR_BAD_DATA)
            m_sink.encryptedEntryFailed(message);
        else
            m_sink.fail(message, missingVolume ? Outcome::Status::MissingPart : rarStatus(processed));
        // The entry was decoded, if wrongly: the walk moved on.
        m_sink.entrySkipped();
        return true;
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
        auto skip = [&] {
            m_sink.entrySkipped();
            return process(RAR_SKIP);
        };
        const QString name = QString::fromWCharArray(header.FileNameW);
        const QStringList path = EntryNames::split(name).value_or(QStringList());
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
            m_sink.fail(name + QStringLiteral(": begins in an earlier volume"), Outcome::Status::MissingPart);
            return process(RAR_SKIP);
        }
        if (path.isEmpty())
            return skip();
        if (header.Flags & RHDF_DIRECTORY) {
            m_sink.folder(path, meta);
            return process(RAR_SKIP);
        }
        if (redirect == kRedirHardLink || redirect == kRedirFileCopy) {
            // Both name an entry stored earlier; only a file this job placed
            // may serve, never something that was already there.
            const int processed = process(RAR_SKIP);
            const QString targetName = QString::fromWCharArray(header.RedirName);
            const std::optional<QStringList> target = EntryNames::split(targetName);
            if (processed != ERAR_SUCCESS)
                return processed;
            if (!target || !wasWritten(target->join(u'/'))) {
                if (!m_sink.keepIfTaken(path))
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
            if (processed == ERAR_SUCCESS && !target) {
                qCWarning(lcEngineRar, "entry not extracted, unsafe link: %s", qUtf8Printable(name));
                m_sink.entrySkipped();
            } else if (processed == ERAR_SUCCESS) {
                m_sink.link(path, *target, meta);
            }
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
                if (header.Flags & RHDF_ENCRYPTED)
                    m_sink.passwordConfirmed();
            }
        } else if (session.writeFailed) {
            m_sink.fileFailed(out, session.writeError);
        } else {
            m_sink.discard(out);
            if (processed == ERAR_SUCCESS)
                m_sink.fail(
                    name + QStringLiteral(": %1 of %2 bytes").arg(session.written).arg(size), Outcome::Status::Damaged);
        }
        return processed;
    }

    const QString m_path;
    const std::optional<QString> m_password;
    EntrySink& m_sink;
    const std::vector<bool>* m_selection;
    std::size_t m_count = 0;
    bool m_single = true;
    bool m_keepWritten = false;
    std::unique_ptr<std::atomic<bool>[]> m_claimed;
    std::mutex m_writtenLock;
    QSet<QString> m_written; // files this job placed, for hard links and copies
    std::atomic<bool> m_walkedToEnd = false;
    std::atomic<bool> m_missingVolume = false;
    std::atomic<int> m_readError = ERAR_SUCCESS;
};

} // namespace

RarReader::RarReader(const QString& path)
    : m_path(path)
{
}

Outcome RarReader::open(const std::optional<QString>& password)
{
    m_password = password;
    m_open = m_headersEncrypted = m_dataEncrypted = m_solid = false;
    m_entries.clear();
    Session session;
    session.password = &m_password;
    auto archive = std::make_unique<Archive>(m_path, RAR_OM_LIST, &session);
    // Like unrar, a set is read from its first volume whichever was chosen;
    // a later volume alone would yield the tail of a file as a whole one.
    if (archive->handle() && (archive->flags() & ROADF_VOLUME) && !(archive->flags() & ROADF_FIRSTVOLUME)) {
        const QString first = firstVolume(m_path);
        if (first.isEmpty() || !QFileInfo::exists(first)) {
            return m_opened = { .status = Outcome::Status::MissingPart,
                .message = QStringLiteral("not the first volume, and the first volume is missing: ")
                    + (first.isEmpty() ? m_path : QFileInfo(first).fileName()) };
        }
        qCInfo(lcEngineRar, "reading the set from its first volume %s", qUtf8Printable(first));
        m_path = first;
        archive = std::make_unique<Archive>(m_path, RAR_OM_LIST, &session);
    }
    if (!archive->handle()) {
        const int code = archive->openResult();
        m_headersEncrypted = code == ERAR_MISSING_PASSWORD || code == ERAR_BAD_PASSWORD;
        return m_opened
            = { .status = rarStatus(code), .message = QStringLiteral("cannot read the archive: ") + rarError(code) };
    }
    m_headersEncrypted = archive->flags() & ROADF_ENCHEADERS;
    m_solid = archive->flags() & ROADF_SOLID;
    RARHeaderDataEx header;
    int code = ERAR_SUCCESS;
    while ((code = archive->next(header)) == ERAR_SUCCESS) {
        Entry entry;
        entry.name = QString::fromWCharArray(header.FileNameW);
        entry.size = static_cast<quint64>(header.UnpSizeHigh) << 32 | header.UnpSize;
        entry.packedSize = static_cast<quint64>(header.PackSizeHigh) << 32 | header.PackSize;
        entry.mtime = modificationTime(header);
        entry.encrypted = header.Flags & RHDF_ENCRYPTED;
        entry.folder = header.Flags & RHDF_DIRECTORY;
        entry.refersBack = header.RedirType == kRedirHardLink || header.RedirType == kRedirFileCopy;
        entry.link = header.RedirType == kRedirUnixSymlink || header.RedirType == kRedirWindowsSymlink
            || header.RedirType == kRedirJunction || (header.HostOS == kHostUnix && S_ISLNK(header.FileAttr));
        if (entry.refersBack)
            entry.refersTo = QString::fromWCharArray(header.RedirName);
        m_dataEncrypted = m_dataEncrypted || entry.encrypted;
        m_entries.push_back(std::move(entry));
        if ((code = RARProcessFile(archive->handle(), RAR_SKIP, nullptr, nullptr)) != ERAR_SUCCESS)
            break;
    }
    m_open = code == ERAR_END_ARCHIVE;
    if (m_open)
        return m_opened = {};
    m_headersEncrypted = m_headersEncrypted || code == ERAR_MISSING_PASSWORD;
    // Encrypted names that do not decode read as damaged headers to RAR4.
    const Outcome::Status status = session.missingVolume ? Outcome::Status::MissingPart
        : m_headersEncrypted                             ? Outcome::Status::WrongPassword
                                                         : rarStatus(code);
    return m_opened = { .status = status, .message = QStringLiteral("cannot read the archive: ") + rarError(code) };
}

bool RarReader::checkPassword(const QString&)
{
    return !needsPassword() || m_open;
}

Outcome RarReader::list(const std::function<bool(const ArchiveEntry&)>& onEntry)
{
    if (!m_open)
        return m_opened;
    for (const Entry& entry : m_entries) {
        ArchiveEntry listed;
        listed.path = entry.name;
        listed.kind = entry.folder ? ArchiveEntry::Kind::Folder
            : entry.link           ? ArchiveEntry::Kind::Link
            : entry.refersBack     ? ArchiveEntry::Kind::HardLink
                                   : ArchiveEntry::Kind::File;
        listed.size = entry.size >= kUnknownSize ? -1 : static_cast<qint64>(entry.size);
        listed.packedSize = static_cast<qint64>(entry.packedSize);
        listed.mtime = entry.mtime;
        listed.encrypted = entry.encrypted;
        if (!onEntry(listed))
            break;
    }
    return {};
}

std::optional<std::vector<bool>> RarReader::withReferredEntries(const std::vector<bool>& selection) const
{
    std::vector<bool> widened = selection;
    widened.resize(m_entries.size(), false);
    for (std::size_t i = m_entries.size(); i-- > 0;) {
        if (!widened[i] || !m_entries[i].refersBack)
            continue;
        for (std::size_t k = 0; k < i; ++k) {
            if (m_entries[k].name == m_entries[i].refersTo)
                widened[k] = true;
        }
    }
    return widened;
}

Outcome RarReader::extract(EntrySink& sink, const ExtractRequest& request)
{
    if (!m_open)
        return m_opened;
    const std::optional<std::vector<bool>> selection
        = request.selection ? withReferredEntries(*request.selection) : std::nullopt;
    quint64 total = 0;
    qint64 count = 0;
    bool refersBack = false;
    EntryOrder order;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        const std::optional<QStringList> path = sink.admit(entry.name);
        if (!path)
            return sink.finish();
        order.add(*path, entry.folder);
        if (!selection || (*selection)[i]) {
            total += entry.size < kUnknownSize ? entry.size : 0;
            ++count;
        }
        refersBack = refersBack || entry.refersBack;
    }
    if (request.listed && !request.listed())
        return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("not extracted") };
    if (!sink.open(needsPassword()))
        return sink.finish();
    // Progress starts with the first data decoded.
    sink.progress().expect(static_cast<qint64>(total), count);

    const bool oneByOne = m_solid || refersBack || m_entries.size() < 2 || order.matters();
    const unsigned workers
        = oneByOne ? 1 : std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()), m_entries.size());
    RarExtraction extraction(m_path, m_password, sink, selection ? &*selection : nullptr);
    extraction.run(m_entries.size(), workers, refersBack);
    return sink.finish();
}
