#include "engine/SevenZipReader.h"

#include "engine/SafeDestination.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kErrorPrefix = QStringLiteral("ERROR: ");

// Removes `name` in `parentFd` and everything below it, never following links.
void removeTree(int parentFd, const QByteArray& name)
{
    const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parentFd, name.constData(), 0);
        return;
    }
    ::fchmod(fd, 0700);
    if (DIR* dir = ::fdopendir(::fcntl(fd, F_DUPFD_CLOEXEC, 0))) {
        QList<QByteArray> children;
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                children.append(QByteArray(entry->d_name));
        }
        ::closedir(dir);
        for (const QByteArray& child : children) {
            if (::unlinkat(fd, child.constData(), 0) != 0 && (errno == EISDIR || errno == EPERM))
                removeTree(fd, child);
        }
    }
    ::close(fd);
    ::unlinkat(parentFd, name.constData(), AT_REMOVEDIR);
}

QList<QByteArray> childrenOf(int fd)
{
    QList<QByteArray> children;
    if (DIR* dir = ::fdopendir(::fcntl(fd, F_DUPFD_CLOEXEC, 0))) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                children.append(QByteArray(entry->d_name));
        }
        ::closedir(dir);
    }
    return children;
}

// Moves what the program extracted into the staging folder into place.
struct Mover {
    explicit Mover(SafeDestination& target)
        : destination(target)
    {
    }
    SafeDestination& destination;
    bool verify = false;          // after a failure: move only entries that look complete
    QHash<QString, qint64> sizes; // listed sizes, for `verify`
    QSet<QString> skipped;        // entries not to move
    QString failure;

    void walk(int dirFd, const QStringList& prefix)
    {
        for (const QByteArray& name : childrenOf(dirFd)) {
            struct stat st;
            if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            const QStringList path = prefix + QStringList{QFile::decodeName(name)};
            const QString key = path.join(u'/');
            if (S_ISDIR(st.st_mode) && !verify && !holdsSkipped(key)) {
                // A folder that is new to the destination moves in one piece.
                const SafeDestination::Result moved = destination.moveFolderIn(dirFd, name, path);
                if (moved == SafeDestination::Result::Failed)
                    fail(destination.errorString());
                if (moved != SafeDestination::Result::Existing)
                    continue;
            }
            if (S_ISDIR(st.st_mode)) {
                // After a failure, folders come only with entries moved into them.
                const EntryMeta meta{st.st_mode & 0777, st.st_mtim};
                if (!verify && destination.makeDirectory(path, meta) == SafeDestination::Result::Failed) {
                    fail(destination.errorString());
                    continue;
                }
                const int child = ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child < 0)
                    continue;
                ::fchmod(child, 0700); // its entries are moved out of it
                walk(child, path);
                ::close(child);
                continue;
            }
            if (skipped.contains(key))
                continue;
            if (verify && S_ISREG(st.st_mode) && sizes.value(key, -1) != st.st_size) {
                qCWarning(lcEngine7z, "incomplete entry left out: %s", qUtf8Printable(key));
                continue;
            }
            if (destination.moveIn(dirFd, name, path) == SafeDestination::Result::Failed)
                fail(destination.errorString());
        }
    }
    bool holdsSkipped(const QString& folder) const
    {
        const QString prefix = folder + u'/';
        return std::any_of(skipped.cbegin(), skipped.cend(), [&](const QString& item) { return item.startsWith(prefix); });
    }
    void fail(const QString& message)
    {
        if (failure.isEmpty())
            failure = message;
    }
};

// True when some folder on the way to `relative` inside the staging folder
// is not a folder: the program was stopped from writing through it.
bool blockedOnTheWay(int stagingFd, const QString& relative)
{
    const QStringList parts = relative.split(u'/', Qt::SkipEmptyParts);
    QByteArray sofar;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        sofar += (sofar.isEmpty() ? QByteArray() : QByteArray("/")) + QFile::encodeName(parts.at(i));
        struct stat st;
        if (::fstatat(stagingFd, sofar.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            return true;
    }
    return false;
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
{
}

QString SevenZipReader::program()
{
    const QString configured = qEnvironmentVariable("ZAVRIN_7ZZ");
    if (!configured.isEmpty())
        return configured;
    const QString found = QStandardPaths::findExecutable(QStringLiteral("7zz"));
    return found.isEmpty() ? QStringLiteral("7zz") : found;
}

SevenZipReader::Run SevenZipReader::run(const QStringList& arguments, const std::optional<QString>& password,
                                        const std::function<void(const QByteArray&)>& onOutput) const
{
    Run result;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program(), arguments);
    if (!process.waitForStarted(-1)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    result.started = true;
    if (password)
        process.write(password->toUtf8() + '\n');
    process.closeWriteChannel();
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(250);
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
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

void SevenZipReader::parseListing(const QByteArray& listing)
{
    m_entries.clear();
    const QList<QByteArray> lines = listing.split('\n');
    qsizetype i = 0;
    while (i < lines.size() && !lines.at(i).startsWith("----------"))
        ++i;
    Entry entry;
    bool any = false;
    auto flush = [&] {
        if (any)
            m_entries.append(entry);
        entry = Entry();
        any = false;
    };
    for (++i; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).endsWith('\r') ? lines.at(i).chopped(1) : lines.at(i);
        if (line.isEmpty()) {
            flush();
            continue;
        }
        const qsizetype eq = line.indexOf(" = ");
        const QByteArray key = eq < 0 ? line : line.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : line.mid(eq + 3);
        if (key == "Path") {
            flush();
            entry.path = QString::fromUtf8(value);
            any = true;
        } else if (key == "Size") {
            entry.size = value.toLongLong();
        } else if (key == "Folder") {
            entry.folder = value == "+";
        } else if (key == "Attributes") {
            // "D drwxr-xr-x", "A -rw-r--r--", "A lrwxrwxrwx": DOS flags, then Unix bits.
            entry.folder = entry.folder || value.startsWith('D');
            const qsizetype space = value.indexOf(' ');
            entry.link = space >= 0 && value.mid(space + 1).startsWith('l');
        } else if (key == "Encrypted") {
            entry.encrypted = value == "+";
        }
    }
    flush();
}

bool SevenZipReader::open(const std::optional<QString>& password)
{
    const Run listing = run({QStringLiteral("l"), QStringLiteral("-slt"), QStringLiteral("-sccUTF-8"),
                             QStringLiteral("--"), m_path},
                            password);
    const QString errors = QString::fromUtf8(listing.err).trimmed();
    m_lastError = errors;
    if (!listing.started || listing.exitCode != 0) {
        if (m_lastError.isEmpty())
            m_lastError = QStringLiteral("7zz exited with status %1").arg(listing.exitCode);
        m_headersEncrypted = listing.out.contains("Enter password") || errors.contains(u"Wrong password") ||
                             errors.contains(u"Cannot open encrypted archive");
        m_entries.clear();
        return false;
    }
    parseListing(listing.out);
    m_anyEncrypted = std::any_of(m_entries.cbegin(), m_entries.cend(), [](const Entry& e) { return e.encrypted; });
    return true;
}

ExtractResult SevenZipReader::extract(const QString& folder, const std::optional<QString>& password,
                                      const ExtractProgress& progress)
{
    QHash<QString, qint64> sizes;
    for (const Entry& entry : std::as_const(m_entries)) {
        const std::optional<QStringList> path = SafeDestination::splitEntryName(entry.path);
        if (!path)
            return {false, false, QStringLiteral("refused: unsafe entry name ") + entry.path};
        sizes.insert(path->join(u'/'), entry.size);
    }
    SafeDestination destination(folder);
    if (!destination.isOpen())
        return {false, false, destination.errorString()};

    // The staging folder lives inside the destination, so that entries move
    // into place by renaming, on the same file system; mkdtemp makes it 0700.
    QByteArray staging = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".zavrin-7z-XXXXXX")));
    if (!::mkdtemp(staging.data()))
        return {false, false, QStringLiteral("cannot create a staging folder in %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno)))};
    const QByteArray stagingName = staging.mid(staging.lastIndexOf('/') + 1);
    const int stagingFd = ::openat(destination.rootFd(), stagingName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);

    static const QRegularExpression percent(QStringLiteral("(\\d{1,3})%"));
    int lastPercent = -1;
    const Run extraction = run(
        {QStringLiteral("x"), QStringLiteral("-aos"), QStringLiteral("-bso0"), QStringLiteral("-bsp1"),
         QStringLiteral("-bse2"), QStringLiteral("-sccUTF-8"), QStringLiteral("-o") + QFile::decodeName(staging),
         QStringLiteral("--"), m_path},
        password, [&](const QByteArray& chunk) {
            QRegularExpressionMatchIterator it = percent.globalMatch(QString::fromLatin1(chunk));
            int value = -1;
            while (it.hasNext())
                value = it.next().captured(1).toInt();
            if (value >= 0 && value != lastPercent && progress) {
                lastPercent = value;
                progress(value / 100.0);
            }
        });

    // Sort the program's complaints: links it refused to create and writes
    // it refused to make through them are what the no-escape rules want
    // anyway; anything else fails the job.
    const QString prefix = QFile::decodeName(staging) + u'/';
    ExtractResult result{extraction.started && (extraction.exitCode == 0 || extraction.exitCode == 1), false, {}};
    QStringList fatal;
    Mover mover(destination);
    for (const QString& line : QString::fromUtf8(extraction.err).split(u'\n')) {
        if (!line.startsWith(kErrorPrefix))
            continue;
        const QString text = line.mid(kErrorPrefix.size()).trimmed();
        const QStringList parts = text.split(QStringLiteral(" : "));
        if (text.startsWith(u"Dangerous link path was ignored") && parts.size() >= 2) {
            qCWarning(lcEngine7z, "entry not extracted, link target leaves the destination: %s", qUtf8Printable(parts.at(1)));
            mover.skipped.insert(parts.at(1)); // the program leaves an empty file in its place
            continue;
        }
        QString item = parts.size() >= 2 ? parts.last() : QString();
        if (item.startsWith(prefix))
            item = item.mid(prefix.size());
        if (text.startsWith(u"Cannot open output file") && stagingFd >= 0 && blockedOnTheWay(stagingFd, item)) {
            qCWarning(lcEngine7z, "entry not extracted, a link or a file stands in the way: %s", qUtf8Printable(item));
            continue;
        }
        if (!item.isEmpty())
            mover.skipped.insert(item);
        fatal.append(text);
    }
    if (extraction.started && extraction.exitCode == 2 && fatal.isEmpty() && !extraction.err.contains("ERROR"))
        fatal.append(QString::fromUtf8(extraction.err).trimmed());
    if (extraction.exitCode == 2 && fatal.isEmpty())
        result.ok = true;
    result.wrongPassword = extraction.err.contains("Wrong password");
    // Some messages span lines ("ERROR: archive" then the reason): keep them whole.
    m_lastError = result.ok ? QString() : QString::fromUtf8(extraction.err).trimmed();
    if (!result.ok && m_lastError.isEmpty())
        m_lastError = QStringLiteral("7zz exited with status %1").arg(extraction.exitCode);

    if (stagingFd >= 0) {
        mover.verify = !result.ok;
        mover.sizes = sizes;
        mover.walk(stagingFd, {});
        ::close(stagingFd);
    }
    removeTree(destination.rootFd(), stagingName);
    if (!destination.finish() && mover.failure.isEmpty())
        mover.failure = QStringLiteral("cannot set the folders' times and modes");
    if (!mover.failure.isEmpty()) {
        result.ok = false;
        if (m_lastError.isEmpty())
            m_lastError = mover.failure;
    }
    result.message = m_lastError;
    if (result.ok && progress)
        progress(1.0);
    return result;
}
