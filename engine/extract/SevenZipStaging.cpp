#include "engine/extract/SevenZipStaging.h"

#include "engine/Folders.h"
#include "engine/safety/EntrySink.h"
#include "platform/Logging.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h> // DT_*
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr qsizetype kCachedFolders = 128;

// Opens what the program made in the staging folder. The program gives
// items their stored modes, which may shut their owner out (a file of mode
// 0200, a folder of 0300): such an item is made readable first.
int openOwn(int parentFd, const QByteArray& name, int flags, mode_t type)
{
    const int fd = ::openat(parentFd, name.constData(), flags);
    struct stat st;
    if (fd >= 0 || errno != EACCES || ::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
        || (st.st_mode & S_IFMT) != type)
        return fd;
    ::fchmodat(parentFd, name.constData(), (st.st_mode & 0777) | 0700, 0);
    return ::openat(parentFd, name.constData(), flags);
}

QString joined(const QStringList& path)
{
    return path.join(u'/');
}

// The name's components as the program wrote them: bytes, which need not
// be UTF-8, split as SafeDestination::splitEntryName splits names.
QByteArrayList stagedPath(const QByteArray& name)
{
    QByteArrayList components;
    for (const QByteArray& part : name.split('/')) {
        if (!part.isEmpty() && part != ".")
            components.append(part);
    }
    return components;
}

// The joined first 1, 2, … `depth` components of `path`.
QByteArrayList prefixes(const QByteArrayList& path, qsizetype depth)
{
    QByteArrayList joined;
    QByteArray prefix;
    for (qsizetype d = 0; d < depth; ++d) {
        prefix += (d ? "/" : "") + path.at(d);
        joined.append(prefix);
    }
    return joined;
}

} // namespace

SevenZipStaging::SevenZipStaging(const QString& folder)
{
    // Inside the destination, so that entries move into place by renaming,
    // on the same file system; made through a descriptor, which no later
    // change of the path can redirect. The destination itself was chosen
    // by the user and may be a link.
    m_rootFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_rootFd < 0) {
        m_error = QStringLiteral("cannot open the destination %1: %2")
                      .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    for (int attempt = 0; attempt < 16 && m_name.isEmpty(); ++attempt) {
        const QByteArray name = ".zavrin-7z-" + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        if (::mkdirat(m_rootFd, name.constData(), 0700) == 0)
            m_name = name;
        else if (errno != EEXIST)
            break;
    }
    if (m_name.isEmpty()) {
        m_error = QStringLiteral("cannot create a staging folder in %1: %2")
                      .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_fd = ::openat(m_rootFd, m_name.constData(), kFolderFlags);
    if (m_fd < 0) {
        m_error = QStringLiteral("cannot open the staging folder: ") + QString::fromLocal8Bit(std::strerror(errno));
        Folders::removeTree(m_rootFd, m_name.constData());
        m_name.clear();
    }
}

SevenZipStaging::~SevenZipStaging()
{
    closeFolders();
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_name.isEmpty())
        Folders::removeTree(m_rootFd, m_name.constData());
    if (m_rootFd >= 0)
        ::close(m_rootFd);
}

bool SevenZipStaging::isIn(int rootFd) const
{
    struct stat mine, theirs;
    return ::fstat(m_rootFd, &mine) == 0 && ::fstat(rootFd, &theirs) == 0 && mine.st_dev == theirs.st_dev
        && mine.st_ino == theirs.st_ino;
}

void SevenZipStaging::closeFolders()
{
    for (int fd : std::as_const(m_folders))
        ::close(fd);
    m_folders.clear();
}

int SevenZipStaging::folderFd(const QByteArrayList& path)
{
    if (path.isEmpty())
        return m_fd;
    const QByteArray key = path.join('/');
    if (const auto it = m_folders.constFind(key); it != m_folders.constEnd())
        return it.value();
    const int parent = folderFd(path.mid(0, path.size() - 1));
    if (parent < 0)
        return -1;
    const int fd = openOwn(parent, path.last(), kFolderFlags, S_IFDIR);
    if (fd < 0)
        return -1;
    ::fchmod(fd, 0700); // its entries are renamed out of it
    if (m_folders.size() >= kCachedFolders)
        closeFolders(); // `parent` may be closed now, but it is no longer needed
    m_folders.insert(key, fd);
    return fd;
}

bool SevenZipStaging::wrongKindInTheWay(const QByteArrayList& path, bool folder)
{
    for (qsizetype depth = 1; depth <= path.size(); ++depth) {
        const int parent = folderFd(path.mid(0, depth - 1));
        struct stat st;
        if (parent < 0 || ::fstatat(parent, path.at(depth - 1).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (depth < path.size() && !S_ISDIR(st.st_mode))
            return true;
        if (depth == path.size())
            return S_ISDIR(st.st_mode) != folder;
    }
    return false;
}

std::optional<std::pair<qint64, quint32>> SevenZipStaging::fileChecksum(
    const QByteArrayList& path, std::optional<mode_t> mode)
{
    const int parent = folderFd(path.mid(0, path.size() - 1));
    if (parent < 0)
        return std::nullopt;
    const int fd = openOwn(parent, path.last(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, S_IFREG);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Read back from the page cache; libdeflate's CRC-32 costs little next
    // to decoding.
    std::vector<char> buffer(1 << 20);
    quint32 crc = 0;
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        crc = libdeflate_crc32(crc, buffer.data(), static_cast<size_t>(n));
        total += n;
    }
    if (mode)
        ::fchmod(fd, *mode & 0777);
    ::close(fd);
    return std::make_pair(total, crc);
}

std::optional<std::pair<qint64, quint32>> SevenZipStaging::fileSize(
    const QByteArrayList& path, std::optional<mode_t> mode, std::optional<quint32> crc)
{
    const int parent = folderFd(path.mid(0, path.size() - 1));
    struct stat st;
    if (parent < 0 || ::fstatat(parent, path.last().constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    // The program gives files their stored mode already, special bits
    // included, which never come along.
    const mode_t wanted = mode ? (*mode & 0777) : (st.st_mode & 0777);
    if ((st.st_mode & 07777) != wanted && ::fchmodat(parent, path.last().constData(), wanted, 0) != 0)
        return std::nullopt;
    return std::make_pair(static_cast<qint64>(st.st_size), crc.value_or(0));
}

QList<SevenZipStaging::State> SevenZipStaging::verify(const QList<SevenZipReader::Entry>& entries,
    const QList<QStringList>& paths, const QHash<qsizetype, QByteArray>& targets, bool programChecked)
{
    using Entry = SevenZipReader::Entry;
    QList<State> states(entries.size(), State::Failed);
    QHash<QByteArray, std::optional<std::pair<qint64, quint32>>> staged; // one read per staged file
    QSet<QByteArray> taken; // names a verified entry holds
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries.at(i);
        const QByteArrayList path = stagedPath(entry.rawPath);
        const QByteArray rawKey = path.join('/');
        const QString key = joined(paths.at(i));
        State& state = states[i];
        if (path.isEmpty() || entry.special) {
            if (entry.special)
                qCWarning(lcEngine7z, "entry not extracted, not a file, a folder or a link: %s", qUtf8Printable(key));
            state = State::Blocked;
            continue;
        }
        if (entry.folder) {
            state = folderFd(path) >= 0 ? State::Verified : State::Failed;
            if (state == State::Failed && wrongKindInTheWay(path, true)) {
                qCWarning(lcEngine7z, "entry not extracted, a file stands in the way: %s", qUtf8Printable(key));
                state = State::Blocked;
            }
            continue;
        }
        if (taken.contains(rawKey)) {
            // The program keeps the first of entries with one name, as the
            // other back-ends keep what is already there.
            qCInfo(lcEngine7z, "entry not extracted, its name came before: %s", qUtf8Printable(key));
            state = State::Blocked;
            continue;
        }
        std::optional<std::pair<qint64, quint32>> found;
        if (entry.link) {
            if (const auto it = targets.constFind(i); it != targets.constEnd()) {
                const QByteArray& target = it.value();
                found = std::make_pair(
                    target.size(), libdeflate_crc32(0, target.constData(), static_cast<size_t>(target.size())));
            }
        } else {
            if (!staged.contains(rawKey))
                staged.insert(
                    rawKey, programChecked ? fileSize(path, entry.mode, entry.crc) : fileChecksum(path, entry.mode));
            found = staged.value(rawKey);
            if (!found && wrongKindInTheWay(path, false)) {
                qCWarning(
                    lcEngine7z, "entry not extracted, a file or a folder stands in the way: %s", qUtf8Printable(key));
                state = State::Blocked;
                continue;
            }
        }
        const bool matches = found && found->first == entry.size && (!entry.crc || found->second == *entry.crc);
        if (matches) {
            state = State::Verified;
            taken.insert(rawKey);
        } else {
            qCWarning(lcEngine7z, "entry not extracted, damaged or incomplete: %s", qUtf8Printable(key));
        }
    }
    return states;
}

qint64 SevenZipStaging::countTree(int fd)
{
    const std::optional<std::vector<Folders::Entry>> items = Folders::list(fd);
    if (!items)
        return -1;
    qint64 count = 0;
    for (const Folders::Entry& item : *items) {
        if (item.type == DT_DIR) {
            const int child = openOwn(fd, item.name, kFolderFlags, S_IFDIR);
            const qint64 below = child < 0 ? -1 : countTree(child);
            if (child >= 0)
                ::close(child);
            if (below < 0)
                return -1;
            count += below;
        } else if (item.type != DT_REG) {
            return -1;
        }
        ++count;
    }
    return count;
}

QList<bool> SevenZipStaging::moveFoldersWhole(EntrySink& sink, const QList<SevenZipReader::Entry>& entries,
    const QList<QStringList>& paths, const QList<State>& states)
{
    // Every entry counts for the folders above it, or spoils them.
    QHash<QByteArray, qint64> below; // folder (raw name) -> entries below it
    QSet<QByteArray> spoiled;
    QHash<QByteArray, std::vector<qsizetype>> foldersBelow; // folder -> folder entries in it, itself included
    QHash<QByteArray, qsizetype> folderEntry;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const SevenZipReader::Entry& entry = entries.at(i);
        const QByteArrayList path = stagedPath(entry.rawPath);
        const QByteArray key = path.join('/');
        // A folder without a stored mode would keep the one staging gave it.
        const bool good = states.at(i) == State::Verified && !entry.link && !entry.special
            && (!entry.folder || entry.mode) && QFile::encodeName(joined(paths.at(i))) == key;
        if (entry.folder && (!good || folderEntry.contains(key)))
            spoiled.insert(key);
        else if (entry.folder)
            folderEntry.insert(key, i);
        for (const QByteArray& ancestor : prefixes(path, path.size() - 1)) {
            if (!good)
                spoiled.insert(ancestor);
            else
                ++below[ancestor];
            if (good && entry.folder)
                foldersBelow[ancestor].push_back(i);
        }
        if (good && entry.folder)
            foldersBelow[key].push_back(i);
    }

    // Outer folders first, so that an inner one is never moved out of one
    // that moves whole.
    std::vector<std::pair<qsizetype, qsizetype>> candidates; // depth, entry
    for (auto it = folderEntry.cbegin(); it != folderEntry.cend(); ++it) {
        if (!spoiled.contains(it.key()))
            candidates.emplace_back(it.key().count('/'), it.value());
    }
    std::sort(candidates.begin(), candidates.end());
    QSet<QByteArray> moved;
    auto insideMoved = [&moved](const QByteArrayList& path, qsizetype depth) {
        const QByteArrayList ancestors = prefixes(path, depth);
        return std::any_of(
            ancestors.cbegin(), ancestors.cend(), [&moved](const QByteArray& a) { return moved.contains(a); });
    };
    for (const auto& [depth, i] : candidates) {
        const QByteArrayList path = stagedPath(entries.at(i).rawPath);
        const QByteArray key = path.join('/');
        if (insideMoved(path, path.size() - 1))
            continue;
        const int fd = folderFd(path);
        if (fd < 0 || countTree(fd) != below.value(key))
            continue;
        // Renaming a folder into another one needs write access to it.
        ::fchmod(fd, 0700);
        const int parent = folderFd(path.mid(0, path.size() - 1));
        std::vector<std::pair<QStringList, EntryMeta>> folders;
        for (qsizetype j : foldersBelow.value(key))
            folders.emplace_back(paths.at(j), EntryMeta { entries.at(j).mode, entries.at(j).mtime });
        if (parent >= 0
            && sink.destination().moveCheckedFolderIn(parent, path.last(), paths.at(i), folders).status
                == Outcome::Status::Done)
            moved.insert(key);
    }

    QList<bool> placed(entries.size(), false);
    if (moved.isEmpty())
        return placed;
    // Descriptors of folders that moved away must not be reused.
    closeFolders();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (states.at(i) == State::Verified) {
            const QByteArrayList path = stagedPath(entries.at(i).rawPath);
            placed[i] = insideMoved(path, path.size());
        }
    }
    return placed;
}

void SevenZipStaging::moveIn(EntrySink& sink, const QList<SevenZipReader::Entry>& entries,
    const QList<QStringList>& paths, const QList<State>& states, const QHash<qsizetype, QByteArray>& targets)
{
    const QList<bool> placed = moveFoldersWhole(sink, entries, paths, states);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (states.at(i) != State::Verified || placed.at(i))
            continue;
        const SevenZipReader::Entry& entry = entries.at(i);
        const QStringList& path = paths.at(i);
        if (entry.folder) {
            sink.folder(path, { entry.mode, entry.mtime });
        } else if (entry.link) {
            sink.link(path, targets.value(i), { std::nullopt, entry.mtime });
        } else {
            const QByteArrayList staged = stagedPath(entry.rawPath);
            const int parent = folderFd(staged.mid(0, staged.size() - 1));
            if (parent < 0)
                sink.fail(QStringLiteral("staged entry vanished: ") + joined(path));
            else
                sink.moveIn(parent, staged.last(), path);
        }
    }
}
