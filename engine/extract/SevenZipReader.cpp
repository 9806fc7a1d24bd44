#include "engine/extract/SevenZipReader.h"

#include "engine/extract/SevenZipStaging.h"
#include "engine/extract/VolumeSet.h"
#include "engine/safety/EntrySink.h"
#include "platform/Logging.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Link targets longer than this are not links anyone made.
constexpr qint64 kMaxLinkTarget = 4096;
// Past this many bytes of link names on one command line, the link pass
// reads every entry instead of naming the links.
constexpr qsizetype kMaxNamedLinks = 64 * 1024;

// The type letter and nine permission letters of an "Attributes" value
// ("A -rw-r--r--", "D drwxrwsrwt"), as `ls -l` shows them.
struct UnixAttributes {
    char type = '-';
    mode_t mode = 0;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The first blank-separated word of ten letters that reads as a type and
// permissions; a listing has one per entry, so no regular expression.
std::optional<UnixAttributes> unixAttributes(QByteArrayView value)
{
    static constexpr const char* allowed[10]
        = { "-dlcbps", "-r", "-w", "-xsS", "-r", "-w", "-xsS", "-r", "-w", "-xtT" };
    for (qsizetype i = 0; i < value.size();) {
        while (i < value.size() && isBlank(value.at(i)))
            ++i;
        const qsizetype start = i;
        while (i < value.size() && !isBlank(value.at(i)))
            ++i;
        if (i - start != 10)
            continue;
        UnixAttributes attributes;
        bool matches = true;
        for (qsizetype k = 0; k < 10 && matches; ++k) {
            const char c = value.at(start + k);
            matches = c != 0 && std::strchr(allowed[k], c) != nullptr;
            if (k > 0 && c != '-' && c != 'S' && c != 'T')
                attributes.mode |= static_cast<mode_t>(1u << (9 - k));
            // "s" and "t" stand for "x" plus a special bit, "S" and "T" for
            // the special bit alone: set-uid, set-gid, sticky.
            if ((k == 3 || k == 6 || k == 9) && (c == 's' || c == 'S' || c == 't' || c == 'T'))
                attributes.mode |= static_cast<mode_t>(01000 << (3 - k / 3));
        }
        if (matches) {
            attributes.type = value.at(start);
            return attributes;
        }
    }
    return std::nullopt;
}

// "2001-02-03 04:05:06.1234567", in UTC (the program runs with TZ=UTC).
std::optional<timespec> listedTime(QByteArrayView value)
{
    // Read digit by digit: a listing has a time per entry, and Qt's format
    // parser costs microseconds each.
    auto number = [&value](qsizetype from, qsizetype digits) {
        int n = 0;
        for (qsizetype i = from; i < from + digits; ++i) {
            if (i >= value.size() || value.at(i) < '0' || value.at(i) > '9')
                return -1;
            n = n * 10 + (value.at(i) - '0');
        }
        return n;
    };
    if (value.size() < 19 || value.at(4) != '-' || value.at(7) != '-' || value.at(10) != ' ' || value.at(13) != ':'
        || value.at(16) != ':')
        return std::nullopt;
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const QTime clock(number(11, 2), number(14, 2), number(17, 2));
    if (!date.isValid() || !clock.isValid())
        return std::nullopt;
    constexpr qint64 kUnixEpochDay = 2440588; // 1970-01-01 as a Julian day
    const qint64 seconds = (date.toJulianDay() - kUnixEpochDay) * 86400 + clock.msecsSinceStartOfDay() / 1000;
    long nanoseconds = 0;
    if (value.size() > 20 && value.at(19) == '.') {
        long scale = 100000000;
        for (qsizetype i = 20; i < value.size() && i < 29 && value.at(i) >= '0' && value.at(i) <= '9'; ++i) {
            nanoseconds += (value.at(i) - '0') * scale;
            scale /= 10;
        }
    }
    return timespec { static_cast<time_t>(seconds), nanoseconds };
}

} // namespace

QString SevenZipReader::Entry::description() const
{
    return QStringLiteral("Path = %1, Size = %2, Folder = %3, Link = %4, Encrypted = %5")
        .arg(path)
        .arg(size)
        .arg(QChar(folder ? u'+' : u'-'))
        .arg(QChar(link ? u'+' : u'-'))
        .arg(QChar(encrypted ? u'+' : u'-'));
}

SevenZipReader::SevenZipReader(const QString& path)
    : m_path(path)
    , m_set(VolumeSet::of(path))
{
    if (m_set && !m_set->missing.isEmpty()) {
        m_openFailure = m_set->missingPart();
        return;
    }
    if (m_set && !gatherParts()) {
        m_openFailure
            = { .status = Outcome::Status::Failed, .message = QStringLiteral("cannot gather the parts of ") + path };
        return;
    }
    m_fd = ::open(QFile::encodeName(m_set ? m_set->parts.first() : path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        m_openFailure = { .status
            = error == EACCES || error == EPERM ? Outcome::Status::NoPermission : Outcome::Status::Failed,
            .message = QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error))) };
    }
}

Outcome SevenZipReader::open(const std::optional<QString>& password)
{
    m_password = password;
    if (m_fd < 0)
        return m_openFailure;
    // A split zip starts with a marker of its own; the program checks it.
    if (m_set && m_set->kind == VolumeSet::Kind::Zip)
        return {};
    // The signature: anything else is not for the program to guess at.
    static constexpr char kSignature[] = { '7', 'z', '\xBC', '\xAF', '\x27', '\x1C' };
    char head[sizeof kSignature] = {};
    if (::pread(m_fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)
        || std::memcmp(head, kSignature, sizeof head) != 0)
        return { .status = Outcome::Status::NotAnArchive, .message = m_path + QStringLiteral(": not a 7z archive") };
    return {};
}

SevenZipReader::~SevenZipReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString SevenZipReader::program()
{
    const QString configured = qEnvironmentVariable("ZAVRIN_7ZZ");
    if (!configured.isEmpty())
        return configured;
    const QString found = QStandardPaths::findExecutable(QStringLiteral("7zz"));
    return found.isEmpty() ? QStringLiteral("7zz") : found;
}

bool SevenZipReader::gatherParts()
{
    // The parts of a set are read under names of our own, in a private
    // folder, so that the program finds them all and no name of theirs
    // meets its wildcard rules.
    m_setFolder = std::make_unique<QTemporaryDir>();
    if (!m_setFolder->isValid())
        return false;
    for (qsizetype i = 0; i < m_set->parts.size(); ++i) {
        const QString& part = m_set->parts.at(i);
        QString own;
        if (m_set->kind == VolumeSet::Kind::SevenZip)
            own = QStringLiteral("set.7z.%1").arg(i + 1, 3, 10, QChar(u'0'));
        else if (part.endsWith(u".zip", Qt::CaseInsensitive))
            own = QStringLiteral("set.zip");
        else
            own = QStringLiteral("set.z%1").arg(i + 1, 2, 10, QChar(u'0'));
        if (!QFile::link(QFileInfo(part).absoluteFilePath(), m_setFolder->filePath(own)))
            return false;
        // The program opens a 7z set by its first part, a zip set by its last.
        if (i == 0 || own == u"set.zip")
            m_setArgument = m_setFolder->filePath(own);
    }
    return true;
}

QString SevenZipReader::typeArgument() const
{
    if (!m_set)
        return QStringLiteral("-t7z");
    return m_set->kind == VolumeSet::Kind::SevenZip ? QStringLiteral("-t7z.split") : QStringLiteral("-tzip");
}

QString SevenZipReader::archiveArgument() const
{
    if (m_set)
        return m_setArgument;
    // The child inherits the descriptor (see run()), so the program opens
    // exactly the file listed, under a name free of wildcards and switches.
    return QStringLiteral("/proc/self/fd/%1").arg(m_fd);
}

namespace {

// Bytes the process `pid` has passed to write(2) so far; -1 when unknown.
qint64 bytesWritten(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

} // namespace

SevenZipReader::Run SevenZipReader::run(const QStringList& arguments, const std::optional<QString>& password,
    int workingFolderFd, const std::function<void(const QByteArray&)>& onOutput, const Watch* watched) const
{
    const Watch watch = watched ? *watched : Watch();
    Run result;
    if (m_fd < 0) {
        result.err = m_openFailure.message.toUtf8();
        return result;
    }
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    process.setProcessEnvironment(environment);
    const int archiveFd = m_fd;
    // Runs in the child between fork and exec: async-signal-safe calls
    // only. The program gets the signals this process may have blocked
    // (the command-line front end waits for them on a thread of its own).
    process.setChildProcessModifier([archiveFd, workingFolderFd] {
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::fcntl(archiveFd, F_SETFD, 0) != 0 || (workingFolderFd >= 0 && ::fchdir(workingFolderFd) != 0))
            ::_exit(127);
    });
    process.start(program(), arguments);
    if (!process.waitForStarted(-1)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    result.started = true;
    if (password)
        process.write(password->toUtf8() + '\n');
    process.closeWriteChannel();
    bool paused = false;
    while (process.state() != QProcess::NotRunning) {
        // A stopped job stops the program with it.
        if ((watch.stop && watch.stop->requested()) || (watch.abandon && watch.abandon->load())) {
            if (paused)
                ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
            process.kill();
            process.waitForFinished(-1);
            break;
        }
        // Held back while what it writes has not been checked.
        const bool holding = watch.hold && watch.hold->load();
        if (holding && !paused && bytesWritten(process.processId()) > watch.budget) {
            paused = ::kill(static_cast<pid_t>(process.processId()), SIGSTOP) == 0;
            if (paused)
                qCInfo(lcEngine7z, "extraction held back until the listing is checked");
        } else if (!holding && paused) {
            ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
            paused = false;
        }
        process.waitForReadyRead(holding ? 5 : 100);
        const QByteArray chunk = process.readAllStandardOutput();
        if (onOutput && !chunk.isEmpty())
            onOutput(chunk);
        else
            result.out += chunk;
    }
    process.waitForFinished(-1);
    const QByteArray rest = process.readAllStandardOutput();
    if (onOutput && !rest.isEmpty())
        onOutput(rest);
    else
        result.out += rest;
    // Log lines name the archive, not the descriptor or the parts' own names.
    result.err = process.readAllStandardError().replace(archiveArgument().toUtf8(), QFile::encodeName(m_path));
    if (m_setFolder)
        result.err.replace(QByteArray(QFile::encodeName(m_setFolder->path()) + '/'), QByteArray());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QList<SevenZipReader::Entry> SevenZipReader::parseListing(const QByteArray& listing)
{
    // Walked in place, line by line: a listing has nine lines per entry.
    QList<Entry> entries;
    entries.reserve(listing.size() / 160); // an entry takes some 180 bytes of lines
    const QByteArrayView text(listing);
    qsizetype pos = 0;
    auto nextLine = [&]() -> std::optional<QByteArrayView> {
        if (pos > text.size() || (pos == text.size() && !text.isEmpty() && text.back() == '\n'))
            return std::nullopt;
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(pos, end - pos);
        pos = end + 1;
        return line;
    };
    std::optional<QByteArrayView> line;
    while ((line = nextLine()) && !line->startsWith("----------")) { }
    Entry entry;
    bool any = false;
    auto flush = [&] {
        if (any)
            entries.append(std::move(entry));
        entry = Entry();
        any = false;
    };
    while ((line = nextLine())) {
        if (line->isEmpty()) {
            flush();
            continue;
        }
        const qsizetype eq = line->indexOf(" = ");
        const QByteArrayView key = eq < 0 ? *line : line->first(eq);
        const QByteArrayView value = eq < 0 ? QByteArrayView() : line->sliced(eq + 3);
        if (key == "Path") {
            flush();
            entry.rawPath = value.toByteArray();
            entry.path = QString::fromUtf8(value);
            any = true;
        } else if (key == "Size") {
            entry.size = value.toLongLong();
        } else if (key == "Packed Size") {
            bool ok = false;
            const qint64 packed = value.toLongLong(&ok);
            entry.packedSize = ok ? packed : -1;
        } else if (key == "Anti") {
            entry.anti = value == "+";
        } else if (key == "Folder") {
            entry.folder = entry.folder || value == "+";
        } else if (key == "Attributes") {
            // DOS flags ("D" for a folder), then the Unix type and bits when stored.
            entry.folder = entry.folder || value.startsWith('D');
            if (const std::optional<UnixAttributes> unix = unixAttributes(value)) {
                entry.folder = entry.folder || unix->type == 'd';
                entry.link = unix->type == 'l';
                entry.special = unix->type != '-' && unix->type != 'd' && unix->type != 'l';
                if (unix->mode != 0)
                    entry.mode = unix->mode;
            }
        } else if (key == "CRC") {
            bool ok = false;
            const uint crc = value.toUInt(&ok, 16);
            entry.crc = ok ? std::optional<quint32>(crc) : std::nullopt;
        } else if (key == "Modified") {
            entry.mtime = listedTime(value);
        } else if (key == "Encrypted") {
            entry.encrypted = value == "+";
        }
    }
    flush();
    for (Entry& item : entries) {
        if (item.folder)
            item.link = item.special = false;
    }
    return entries;
}

Outcome SevenZipReader::readListing(const std::optional<QString>& password)
{
    const Run listing = run({ QStringLiteral("l"), QStringLiteral("-slt"), QStringLiteral("-sccUTF-8"), typeArgument(),
                                QStringLiteral("--"), archiveArgument() },
        password);
    const QString errors = QString::fromUtf8(listing.err).trimmed();
    if (!listing.started || listing.exitCode != 0) {
        m_headersEncrypted = listing.out.contains("Enter password") || errors.contains(u"Wrong password")
            || errors.contains(u"Cannot open encrypted archive");
        m_entries.clear();
        Outcome failed { .status = Outcome::Status::Failed, .message = errors };
        if (failed.message.isEmpty())
            failed.message = QStringLiteral("7zz exited with status %1").arg(listing.exitCode);
        if (m_headersEncrypted)
            failed.status = Outcome::Status::WrongPassword;
        else if (m_set
            && (errors.contains(u"Missing volume") || errors.contains(u"Unexpected end")
                || listing.out.contains("Missing volume")))
            failed = m_set->missingPart();
        else if (errors.contains(u"There are some data after the end"))
            failed.status = Outcome::Status::Damaged;
        else if (errors.contains(u"Cannot open the file as archive")
            || errors.contains(u"Can not open the file as archive"))
            failed.status = Outcome::Status::NotAnArchive;
        else if (errors.contains(u"Unexpected end") || errors.contains(u"Headers Error")
            || errors.contains(u"Data Error"))
            failed.status = Outcome::Status::Damaged;
        m_listing = failed;
        return failed;
    }
    // A zip set's end record knows how many parts it has.
    if (m_set && m_set->kind == VolumeSet::Kind::Zip) {
        const qsizetype at = listing.out.indexOf("\nVolumes = ");
        const qsizetype end = at < 0 ? -1 : listing.out.indexOf('\n', at + 1);
        if (end > at && listing.out.mid(at + 11, end - at - 11).toInt() > m_set->parts.size()) {
            m_listing = m_set->missingPart();
            return *m_listing;
        }
    }
    m_entries = parseListing(listing.out);
    m_anyEncrypted = std::any_of(m_entries.cbegin(), m_entries.cend(), [](const Entry& e) { return e.encrypted; });
    m_listing = Outcome {};
    return {};
}

Outcome SevenZipReader::list(const std::function<bool(const ArchiveEntry&)>& onEntry)
{
    if (m_fd < 0)
        return m_openFailure;
    if (!m_listing)
        readListing(m_password);
    if (!m_listing->ok())
        return *m_listing;
    for (const Entry& entry : std::as_const(m_entries)) {
        if (entry.anti)
            continue;
        ArchiveEntry listed;
        listed.path = entry.path;
        listed.kind = entry.folder ? ArchiveEntry::Kind::Folder
            : entry.link           ? ArchiveEntry::Kind::Link
            : entry.special        ? ArchiveEntry::Kind::Special
                                   : ArchiveEntry::Kind::File;
        listed.size = entry.size;
        listed.packedSize = entry.packedSize;
        listed.mtime = entry.mtime;
        listed.encrypted = entry.encrypted;
        if (!onEntry(listed))
            break;
    }
    return {};
}

QHash<qsizetype, QByteArray> SevenZipReader::readLinkTargets(const std::optional<QString>& password) const
{
    // Asked for by name, the program writes the data of every entry with
    // that name or below it to standard output, in listing order. Links
    // are asked for by name unless there are very many of them, or a name
    // is not UTF-8 and so cannot be given on a command line as it is.
    QSet<QByteArray> names;
    qsizetype length = 0;
    bool everything = false;
    for (const Entry& entry : m_entries) {
        if (entry.link && !names.contains(entry.rawPath)) {
            names.insert(entry.rawPath);
            length += entry.rawPath.size() + 1;
            everything = everything || entry.path.toUtf8() != entry.rawPath;
        }
    }
    everything = everything || length > kMaxNamedLinks;
    auto selected = [&](const Entry& entry) {
        if (everything || names.contains(entry.rawPath))
            return true;
        for (qsizetype slash = entry.rawPath.indexOf('/'); slash > 0; slash = entry.rawPath.indexOf('/', slash + 1)) {
            if (names.contains(entry.rawPath.left(slash)))
                return true;
        }
        return false;
    };
    QList<qsizetype> order; // entries whose data comes out, in order
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (!m_entries.at(i).folder && m_entries.at(i).size > 0 && selected(m_entries.at(i)))
            order.append(i);
    }

    QHash<qsizetype, QByteArray> targets;
    qsizetype current = 0;
    qint64 remaining = order.isEmpty() ? 0 : m_entries.at(order.first()).size;
    bool overrun = false;
    auto onData = [&](const QByteArray& chunk) {
        qsizetype pos = 0;
        while (pos < chunk.size()) {
            if (current >= order.size()) {
                overrun = true;
                return;
            }
            const qsizetype index = order.at(current);
            const qint64 take = std::min<qint64>(remaining, chunk.size() - pos);
            if (m_entries.at(index).link && m_entries.at(index).size <= kMaxLinkTarget)
                targets[index].append(chunk.constData() + pos, take);
            pos += take;
            remaining -= take;
            if (remaining == 0 && ++current < order.size())
                remaining = m_entries.at(order.at(current)).size;
        }
    };
    QStringList arguments { QStringLiteral("x"), QStringLiteral("-so"), QStringLiteral("-snl-"), QStringLiteral("-spd"),
        QStringLiteral("-bsp0"), QStringLiteral("-sccUTF-8"), typeArgument(), QStringLiteral("--"), archiveArgument() };
    if (!everything) {
        for (const QByteArray& name : std::as_const(names))
            arguments.append(QString::fromUtf8(name));
    }
    const Run links = run(arguments, password, -1, onData);
    // Anything but exactly the expected bytes leaves every target unknown;
    // the entries then fail their check.
    if (!links.started || links.exitCode != 0 || overrun || current < order.size()) {
        qCWarning(lcEngine7z, "cannot read the link targets: %s", links.err.trimmed().constData());
        return {};
    }
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).link && m_entries.at(i).size == 0)
            targets.insert(i, QByteArray());
    }
    return targets;
}

SevenZipReader::Run SevenZipReader::runExtraction(int stagingFd, const std::optional<QString>& password,
    ProgressMeter& progress, const Watch& watch, const std::atomic<bool>* reporting, const QString& listFile) const
{
    static const QRegularExpression percent(QStringLiteral("(\\d{1,3})%"));
    int lastPercent = -1;
    QStringList arguments { QStringLiteral("x"), QStringLiteral("-snl-"), QStringLiteral("-aos"),
        QStringLiteral("-bso0"), QStringLiteral("-bsp1"), QStringLiteral("-bse2"), QStringLiteral("-sccUTF-8"),
        typeArgument() };
    // Names in the list are literal (-spd): no wildcards, no switches.
    if (!listFile.isEmpty())
        arguments << QStringLiteral("-spd") << QStringLiteral("-scsUTF-8") << QStringLiteral("-i@") + listFile;
    arguments << QStringLiteral("--") << archiveArgument();
    return run(
        arguments, password, stagingFd,
        [&](const QByteArray& chunk) {
            // Before the listing is in, nobody may hear of the job.
            if (!reporting->load())
                return;
            QRegularExpressionMatchIterator it = percent.globalMatch(QString::fromLatin1(chunk));
            int value = -1;
            while (it.hasNext())
                value = it.next().captured(1).toInt();
            if (value >= 0 && value != lastPercent) {
                lastPercent = value;
                progress.reportFraction(value / 100.0);
            }
        },
        &watch);
}

QString SevenZipReader::writeListFile(const std::vector<bool>& selection, QTemporaryDir& folder) const
{
    QByteArray lines;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (static_cast<std::size_t>(i) >= selection.size() || !selection[static_cast<std::size_t>(i)])
            continue;
        // A list file holds one name a line, trimmed, in UTF-8. The listing
        // shows a newline in a name as "_", so a name with "_" may not be
        // the name to ask for.
        const Entry& entry = m_entries.at(i);
        const QByteArray& name = entry.rawPath;
        if (name.isEmpty() || name.contains('\n') || name.contains('\r') || name.contains('_')
            || entry.path.toUtf8() != name || isBlank(name.front()) || isBlank(name.back()))
            return {};
        lines += name + '\n';
    }
    QFile list(folder.filePath(QStringLiteral("names")));
    if (!folder.isValid() || !list.open(QIODevice::WriteOnly) || list.write(lines) != lines.size())
        return {};
    return list.fileName();
}

namespace {

// Bytes the program may write before the listing has checked every name:
// enough that a normal archive never waits, little beside a disk.
constexpr qint64 kUncheckedBudget = 16 * 1024 * 1024;

// The password's fate once the staged entries were checked. Only an
// encrypted entry whose CRC matched confirms it: without a CRC, a wrong
// password decodes to garbage that nothing can tell from the right
// content. False when nothing may be moved in.
bool judgePassword(EntrySink& sink, const QList<SevenZipReader::Entry>& entries,
    const QList<SevenZipStaging::State>& states, bool passwordGiven)
{
    using State = SevenZipStaging::State;
    bool encryptedData = false;
    bool failed = false;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const SevenZipReader::Entry& entry = entries.at(i);
        if (!entry.encrypted || entry.size == 0 || states.at(i) == State::Unselected)
            continue;
        encryptedData = true;
        if (states.at(i) == State::Verified && entry.crc)
            sink.passwordConfirmed();
        failed = failed || states.at(i) == State::Failed;
    }
    if (!passwordGiven || !encryptedData || sink.isPasswordConfirmed())
        return true;
    if (failed)
        sink.fail(QStringLiteral("no encrypted entry decoded right"), Outcome::Status::WrongPassword);
    else
        sink.fail(QStringLiteral("the password cannot be confirmed: no encrypted entry carries a checksum"),
            Outcome::Status::PasswordUnconfirmed);
    return false;
}

} // namespace

Outcome SevenZipReader::extract(EntrySink& sink, const ExtractRequest& request)
{
    if (m_fd < 0)
        return m_openFailure;
    const std::optional<QString>& password = request.password;
    const StopToken& stop = sink.stopToken();
    // Not listed yet, the archive is listed while the program already
    // extracts it into the staging folder, on the other core; past a small
    // budget the program waits until every name is checked. Only where the
    // destination exists: a refused archive must not even create it.
    // Nothing leaves the staging folder before the listing has checked
    // every name, and every way out below ends the program before the
    // staging folder and all in it go.
    std::atomic<bool> abandon = false;
    std::atomic<bool> hold = true;
    std::atomic<bool> reporting = false;
    std::optional<SevenZipStaging> staging;
    std::future<Run> early;
    const auto abandonEarly = qScopeGuard([&abandon] { abandon = true; });
    const Watch watch { .stop = &stop, .abandon = &abandon, .hold = &hold, .budget = kUncheckedBudget };
    QTemporaryDir listFolder;
    QString listFile;
    auto startExtraction = [&] {
        early = std::async(std::launch::async, [&, password, fd = staging->fd()] {
            return runExtraction(fd, password, sink.progress(), watch, &reporting, listFile);
        });
    };
    // The job's end: the program ended and the staging folder gone first,
    // so that a destination the job made is empty again when a failed job
    // takes it back.
    auto finish = [&] {
        abandon = true;
        if (early.valid())
            early.wait();
        staging.reset();
        return sink.finish();
    };
    // A selection is made from a listing: list first, then extract only it.
    if (!m_listing && !request.selection && QFileInfo(sink.folder()).isDir()) {
        staging.emplace(sink.folder());
        if (staging->isOpen())
            startExtraction();
    }
    if (!m_listing)
        readListing(password);
    qCDebug(lcEngine7z, "Open error: %s", qUtf8Printable(m_listing->message));
    for (const Entry& entry : std::as_const(m_entries))
        qCDebug(lcEngine7z, "\n%s", qUtf8Printable(entry.description()));
    qCDebug(lcEngine7z, "Iteration error: %s", qUtf8Printable(m_listing->message));
    if (request.listed && !request.listed())
        return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("not extracted") };
    // Unlisted means unchecked names: such an archive is not extracted.
    if (stop.requested())
        return { .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") };
    if (!m_listing->ok())
        return *m_listing;
    // Selections are by listing position, where deletion markers do not show.
    std::optional<std::vector<bool>> selection;
    if (request.selection) {
        selection.emplace(static_cast<std::size_t>(m_entries.size()), false);
        std::size_t listed = 0;
        for (qsizetype i = 0; i < m_entries.size(); ++i) {
            if (!m_entries.at(i).anti && listed < request.selection->size())
                (*selection)[static_cast<std::size_t>(i)] = (*request.selection)[listed++];
        }
    }
    QList<QStringList> paths;
    paths.reserve(m_entries.size());
    for (const Entry& entry : std::as_const(m_entries)) {
        const std::optional<QStringList> path = sink.admit(entry.path);
        if (!path)
            return finish();
        paths.append(*path);
    }
    if (!sink.open())
        return finish();
    if (!staging)
        staging.emplace(sink.folder());
    if (!staging->isOpen()) {
        sink.fail(staging->failure());
        return finish();
    }
    // The path may name another folder by now: entries move in by renaming.
    if (!staging->isIn(sink)) {
        sink.fail(QStringLiteral("the destination changed during the job: ") + sink.folder());
        return finish();
    }
    if (selection)
        listFile = writeListFile(*selection, listFolder);
    // Progress is the program's own percentage.
    sink.progress().start();
    reporting = true;
    hold = false;

    // Links are never made by the program (-snl-), so it never writes
    // through one; their targets come from a second run, alongside.
    const bool anyLink = std::any_of(m_entries.cbegin(), m_entries.cend(), [](const Entry& e) { return e.link; });
    std::future<QHash<qsizetype, QByteArray>> linkTargets;
    if (anyLink)
        linkTargets = std::async(std::launch::async, [this, password] { return readLinkTargets(password); });
    if (!early.valid())
        startExtraction();
    // Worked out while the program runs.
    staging->plan(m_entries, paths);
    const Run extraction = early.get();
    const QHash<qsizetype, QByteArray> targets = anyLink ? linkTargets.get() : QHash<qsizetype, QByteArray>();
    // A stopped job moves nothing in: the staging folder goes with all of it.
    if (sink.stopRequested())
        return finish();
    // A clean exit means the program checked every CRC: reading the files
    // back would only repeat it.
    const QList<SevenZipStaging::State> states = staging->verify(
        m_entries, paths, targets, extraction.started && extraction.exitCode == 0, selection ? &*selection : nullptr);

    using State = SevenZipStaging::State;
    bool anyFailed = false, anyBlocked = false;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        anyFailed = anyFailed || states.at(i) == State::Failed;
        anyBlocked = anyBlocked || states.at(i) == State::Blocked;
    }
    if (!judgePassword(sink, m_entries, states, password.has_value()))
        return finish();
    // A non-zero exit is explained only by entries the program could not
    // write where a file stood in the way; anything else is a failure.
    const bool exitExplained = extraction.exitCode == 0 || (extraction.exitCode == 2 && anyBlocked);
    if (!extraction.started || !exitExplained || anyFailed) {
        QString message = QString::fromUtf8(extraction.err).trimmed();
        if (message.isEmpty())
            message = extraction.exitCode == 0 ? QStringLiteral("some entries did not come out right")
                                               : QStringLiteral("7zz exited with status %1").arg(extraction.exitCode);
        sink.fail(message, Outcome::Status::Damaged);
    }
    staging->moveIn(sink, m_entries, paths, states, targets);
    return finish();
}
