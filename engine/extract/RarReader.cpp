#include "engine/extract/RarReader.h"

#include "engine/JobStop.h"
#include "engine/extract/RarStructure.h"
#include "engine/safety/EntrySink.h"
#include "platform/Logging.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
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
    quint64 decoded = 0;
    quint64 total = 0;
    const ExtractProgress* progress = nullptr;

    void report() const
    {
        if (progress && *progress && total > 0)
            (*progress)(std::min(1.0, static_cast<double>(decoded) / static_cast<double>(total)));
    }
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
        session->decoded += static_cast<quint64>(size);
        session->report();
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
    RARHeaderDataEx header;
    int code = ERAR_SUCCESS;
    while ((code = archive->next(header)) == ERAR_SUCCESS) {
        Entry entry;
        entry.name = QString::fromWCharArray(header.FileNameW);
        entry.size = static_cast<quint64>(header.UnpSizeHigh) << 32 | header.UnpSize;
        entry.encrypted = header.Flags & RHDF_ENCRYPTED;
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
    for (const Entry& entry : m_entries) {
        if (!sink.admit(entry.name))
            return sink.finish();
        total += entry.size;
    }
    if (!sink.open())
        return sink.finish();

    Session session;
    session.password = &m_password;
    session.total = total;
    session.progress = &progress;
    Archive archive(m_path, RAR_OM_EXTRACT, &session);
    if (!archive.handle()) {
        sink.fail(QStringLiteral("cannot open the archive: ") + rarError(archive.openResult()));
        return sink.finish();
    }
    auto process = [&](int operation) { return RARProcessFile(archive.handle(), operation, nullptr, nullptr); };

    // The password is confirmed by the extraction itself: the first
    // encrypted file that decodes with a matching checksum proves it. A
    // refused password, or (RAR4 shows no other sign) damaged data of every
    // encrypted file tried, ends the job with nothing of it left.
    bool passwordConfirmed = false;
    bool passwordInDoubt = false;
    QSet<QString> written; // regular files this job placed, for hard links and copies
    RARHeaderDataEx header;
    int code = ERAR_SUCCESS;
    while (!sink.stopRequested() && (code = archive.next(header)) == ERAR_SUCCESS) {
        const QString name = QString::fromWCharArray(header.FileNameW);
        const QStringList path = SafeDestination::splitEntryName(name).value_or(QStringList());
        const QString key = path.join(u'/');
        const bool unixHost = header.HostOS == kHostUnix;
        const bool encrypted = header.Flags & RHDF_ENCRYPTED;
        const quint64 size = static_cast<quint64>(header.UnpSizeHigh) << 32 | header.UnpSize;
        EntryMeta meta;
        meta.mtime = modificationTime(header);
        if (unixHost && (header.FileAttr & 0777))
            meta.mode = header.FileAttr & 07777;
        const unsigned redirect = header.RedirType;
        const bool windowsLink = redirect == kRedirWindowsSymlink || redirect == kRedirJunction;
        const bool link = redirect == kRedirUnixSymlink || windowsLink || (unixHost && S_ISLNK(header.FileAttr));
        int processed = ERAR_SUCCESS;

        if (header.Flags & RHDF_SPLITBEFORE) {
            // Its beginning lies in a volume that was not read.
            sink.fail(name + QStringLiteral(": begins in an earlier volume"));
            processed = process(RAR_SKIP);
        } else if (path.isEmpty()) {
            processed = process(RAR_SKIP);
        } else if (header.Flags & RHDF_DIRECTORY) {
            sink.folder(path, meta);
            processed = process(RAR_SKIP);
        } else if (redirect == kRedirHardLink || redirect == kRedirFileCopy) {
            // Both name an entry stored earlier; only a file this job placed
            // may serve, never something that was already there.
            processed = process(RAR_SKIP);
            const QString targetName = QString::fromWCharArray(header.RedirName);
            const std::optional<QStringList> target = SafeDestination::splitEntryName(targetName);
            if (processed == ERAR_SUCCESS && (!target || !written.contains(target->join(u'/')))) {
                if (sink.destination().isTaken(path))
                    qCInfo(lcEngineRar, "kept existing %s", qUtf8Printable(key));
                else
                    sink.fail(name + QStringLiteral(": refers to an entry not extracted by this job: ") + targetName);
            } else if (processed == ERAR_SUCCESS) {
                if (redirect == kRedirHardLink ? sink.hardLink(path, *target) : sink.copy(path, *target, meta))
                    written.insert(key);
            }
        } else if (link) {
            // RAR5 keeps the target in the header, RAR4 as the entry's data.
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
                sink.link(path, *target, meta);
        } else {
            PendingFile out;
            if (sink.beginFile(path, out, meta)) {
                session.out = &out;
                session.written = 0;
                processed = process(RAR_TEST);
                session.out = nullptr;
                const bool complete = session.written == size || size >= kUnknownSize;
                if (processed == ERAR_SUCCESS && !session.writeFailed && complete) {
                    if (sink.commitFile(out, meta)) {
                        written.insert(key);
                        passwordConfirmed = passwordConfirmed || encrypted;
                    }
                } else if (session.writeFailed) {
                    sink.fileFailed(out, session.writeError);
                } else {
                    sink.destination().discardFile(out);
                    if (processed == ERAR_SUCCESS)
                        sink.fail(name + QStringLiteral(": %1 of %2 bytes").arg(session.written).arg(size));
                }
                session.writeFailed = false;
            } else {
                processed = process(RAR_SKIP);
            }
        }
        if (processed != ERAR_SUCCESS && !JobStop::requested()) {
            const QString message = name + QStringLiteral(": ") + rarError(processed);
            if (processed == ERAR_BAD_PASSWORD && !passwordConfirmed) {
                sink.fail(message, Outcome::Status::WrongPassword);
                break;
            }
            // RAR4 shows a wrong password only as damaged data of an encrypted entry.
            passwordInDoubt = passwordInDoubt || (encrypted && processed == ERAR_BAD_DATA && !passwordConfirmed);
            sink.fail(message);
        }
        session.report();
    }
    if (JobStop::requested()) {
        sink.stopRequested();
    } else if (code != ERAR_END_ARCHIVE && code != ERAR_SUCCESS) {
        sink.fail(QStringLiteral("archive read error: ") + rarError(code),
            code == ERAR_BAD_PASSWORD ? Outcome::Status::WrongPassword : Outcome::Status::Failed);
    } else if (code == ERAR_END_ARCHIVE && RarStructure::check(m_path) == RarStructure::Ending::Truncated) {
        sink.fail(QStringLiteral("the archive is cut short"));
    }
    if (passwordInDoubt && !passwordConfirmed)
        sink.fail(QStringLiteral("no encrypted entry decoded right"), Outcome::Status::WrongPasswordOrDamage);
    return sink.finish(progress);
}
