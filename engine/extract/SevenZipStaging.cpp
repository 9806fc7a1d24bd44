#include "engine/extract/SevenZipStaging.h"

#include "engine/safety/EntryNames.h"
#include "engine/safety/EntrySink.h"
#include "platform/Folders.h"
#include "platform/Logging.h"

#include <QFile>
#include <QRandomGenerator>
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
// be UTF-8, split as EntryNames::split splits names.
QByteArrayList stagedPath(const QByteArray& name)
{
    QByteArrayList components;
    for (const QByteArray& part : name.split('/')) {
        if (!part.isEmpty() && part != ".")
            components.append(part);
    }
    return components;
}

// stagedPath(name) joined by "/": most often the name itself, shared.
QByteArray stagedKey(const QByteArray& name)
{
    bool plain = !name.isEmpty();
    for (qsizetype start = 0; plain && start <= name.size();) {
        qsizetype end = name.indexOf('/', start);
        if (end < 0)
            end = name.size();
        plain = end > start && !(end - start == 1 && name.at(start) == '.');
        start = end + 1;
    }
    return plain ? name : stagedPath(name).join('/');
}

// Why the staging folder cannot be had: `what`, then the system's words.
Outcome failedFor(const QString& what)
{
    const int error = errno;
    const bool full = error == ENOSPC || error == EDQUOT;
    const bool refused = error == EACCES || error == EPERM || error == EROFS;
    return { .status = full ? Outcome::Status::NoSpace
            : refused       ? Outcome::Status::NoPermission
                            : Outcome::Status::Failed,
        .message = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)) };
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
        m_failure = failedFor(QStringLiteral("cannot open the destination ") + folder);
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
        m_failure = failedFor(QStringLiteral("cannot create a staging folder in ") + folder);
        return;
    }
    m_fd = ::openat(m_rootFd, m_name.constData(), kFolderFlags);
    if (m_fd < 0) {
        m_failure = failedFor(QStringLiteral("cannot open the staging folder"));
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

bool SevenZipStaging::isIn(const EntrySink& sink) const
{
    return sink.isDestination(m_rootFd);
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

unsigned char SevenZipStaging::stagedType(const QByteArray& key)
{
    const QByteArrayList path = stagedPath(key);
    const int parent = folderFd(path.mid(0, path.size() - 1));
    struct stat st;
    if (path.isEmpty() || parent < 0 || ::fstatat(parent, path.last().constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return DT_UNKNOWN;
    return static_cast<unsigned char>(IFTODT(st.st_mode));
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

bool SevenZipStaging::fixMode(const QByteArray& key, const SevenZipReader::Entry& entry)
{
    // The program gives a file its stored permission bits less its umask
    // (ours), never the special ones; a file stored with special bits is
    // set all the same, whatever the program did.
    if (!entry.mode)
        return true;
    const mode_t wanted = *entry.mode & 0777;
    if ((*entry.mode & 07000) == 0 && (wanted & EntryNames::umaskValue()) == 0)
        return true;
    const QByteArrayList path = stagedPath(key);
    const int parent = folderFd(path.mid(0, path.size() - 1));
    return parent >= 0 && ::fchmodat(parent, path.last().constData(), wanted, 0) == 0;
}

int SevenZipStaging::folderId(const QByteArray& key, qsizetype end)
{
    // The deepest folder on the way that is known already, then the rest
    // below it, outer first; iterative, as names may be deep.
    std::vector<qsizetype> missing;
    int parent = -1;
    for (qsizetype e = end; e > 0; e = key.lastIndexOf('/', e - 1)) {
        parent = m_folderIds.value(key.left(e), -1);
        if (parent >= 0)
            break;
        missing.push_back(e);
    }
    for (auto e = missing.crbegin(); e != missing.crend(); ++e) {
        Folder folder;
        folder.key = key.left(*e);
        folder.parent = parent;
        folder.depth = parent < 0 ? 1 : m_tree[parent].depth + 1;
        m_tree.push_back(std::move(folder));
        parent = static_cast<int>(m_tree.size() - 1);
        m_folderIds.insert(m_tree.back().key, parent);
    }
    return parent;
}

void SevenZipStaging::spoil(int folder)
{
    for (; folder >= 0; folder = m_tree[folder].parent)
        m_tree[folder].spoiled = true;
}

void SevenZipStaging::plan(const QList<SevenZipReader::Entry>& entries, const QList<QStringList>& paths)
{
    const auto count = static_cast<size_t>(entries.size());
    m_keys.resize(count);
    m_parent.assign(count, -1);
    m_self.assign(count, -1);
    m_first.resize(count);
    m_found.assign(count, 0);
    m_firstByKey.reserve(entries.size());
    QByteArray lastParent; // consecutive entries mostly share their folder
    int lastParentId = -1;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const SevenZipReader::Entry& entry = entries.at(i);
        const QByteArray key = stagedKey(entry.rawPath);
        m_keys[i] = key;
        m_first[i] = m_firstByKey.value(key, -1);
        if (m_first[i] < 0) {
            m_first[i] = i;
            m_firstByKey.insert(key, i);
        }
        if (key.isEmpty())
            continue;
        const qsizetype slash = key.lastIndexOf('/');
        if (slash >= 0 && QByteArrayView(key).first(slash) != QByteArrayView(lastParent)) {
            lastParent = key.left(slash);
            lastParentId = folderId(key, slash);
        }
        m_parent[i] = slash < 0 ? -1 : lastParentId;
        if (entry.folder) {
            m_self[i] = folderId(key, key.size());
            Folder& self = m_tree[m_self[i]];
            // A second entry of one folder spoils only it; the count of
            // entries below the folders above keeps them from moving whole.
            self.spoiled = self.spoiled || self.entry >= 0;
            if (self.entry < 0)
                self.entry = i;
        }
        // What the listing alone says keeps a folder from moving whole: a
        // link, a special file, a folder without a stored mode (it would keep
        // the one staging gave it), or a name the destination gets otherwise.
        const bool sameName = (key.constData() == entry.rawPath.constData() && entry.path.toUtf8() == key)
            || QFile::encodeName(joined(paths.at(i))) == key;
        const bool good = !entry.link && !entry.special && (!entry.folder || entry.mode) && sameName;
        if (!good) {
            spoil(entry.folder ? m_self[i] : m_parent[i]);
            continue;
        }
        for (int folder = m_parent[i]; folder >= 0; folder = m_tree[folder].parent) {
            ++m_tree[folder].listed;
            if (entry.folder)
                m_tree[folder].folders.push_back(i);
        }
        if (entry.folder)
            m_tree[m_self[i]].folders.push_back(i);
    }
}

qint64 SevenZipStaging::scan(int fd, const QByteArray& key)
{
    const std::optional<std::vector<Folders::Entry>> items = Folders::list(fd);
    bool clean = items.has_value();
    m_unread = m_unread || !items;
    qint64 count = 0;
    for (const Folders::Entry& item : items.value_or(std::vector<Folders::Entry>())) {
        const QByteArray name = key.isEmpty() ? item.name : key + '/' + item.name;
        if (const auto it = m_firstByKey.constFind(name); it != m_firstByKey.constEnd())
            m_found[it.value()] = item.type;
        if (item.type == DT_DIR) {
            // One descriptor a level: a very deep tree runs out of them.
            const int child = openOwn(fd, item.name, kFolderFlags, S_IFDIR);
            m_unread = m_unread || child < 0;
            if (child >= 0)
                ::fchmod(child, 0700); // its entries are renamed out of it
            const qint64 below = child < 0 ? -1 : scan(child, name);
            if (child >= 0)
                ::close(child);
            clean = clean && below >= 0;
            count += below;
        } else {
            clean = clean && item.type == DT_REG;
        }
        ++count;
    }
    // The listing shows a newline in a name as "_": a staged file whose name
    // holds one stands for the entry listed so, unless that name is staged
    // as it is too.
    for (const Folders::Entry& item : items.value_or(std::vector<Folders::Entry>())) {
        if (!item.name.contains('\n') || item.type == DT_DIR)
            continue;
        QByteArray listed = item.name;
        listed.replace('\n', '_');
        const auto it = m_firstByKey.constFind(key.isEmpty() ? listed : key + '/' + listed);
        if (it != m_firstByKey.constEnd() && m_found[it.value()] == 0) {
            m_found[it.value()] = item.type;
            m_renamed.emplace_back(it.value(), key.isEmpty() ? item.name : key + '/' + item.name);
        }
    }
    if (const auto it = m_folderIds.constFind(key); it != m_folderIds.constEnd())
        m_tree[it.value()].staged = clean ? count : -1;
    return clean ? count : -1;
}

QList<SevenZipStaging::State> SevenZipStaging::verify(const QList<SevenZipReader::Entry>& entries,
    QList<QStringList>& paths, const QHash<qsizetype, QByteArray>& targets, bool programChecked,
    const std::vector<bool>* selection)
{
    using Entry = SevenZipReader::Entry;
    scan(m_fd, QByteArray());
    // Entries found under their real names take them in the destination too.
    for (const auto& [entry, real] : m_renamed) {
        qCInfo(lcEngine7z, "a name with a newline, listed as %s", qUtf8Printable(joined(paths.at(entry))));
        m_keys[entry] = real;
        paths[entry].last() = QString::fromUtf8(real.mid(real.lastIndexOf('/') + 1));
        spoil(m_parent[entry]);
    }
    QList<State> states(entries.size(), State::Failed);
    QHash<QByteArray, std::optional<std::pair<qint64, quint32>>> read; // one read per staged file
    std::vector<bool> held(entries.size(), false); // by first entry of a name: a verified entry holds it
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries.at(i);
        const QByteArray& key = m_keys[i];
        const unsigned char found = m_found[m_first[i]] || !m_unread ? m_found[m_first[i]] : stagedType(key);
        State& state = states[i];
        if (selection && !(*selection)[static_cast<std::size_t>(i)]) {
            state = State::Unselected;
            continue;
        }
        if (entry.anti) {
            qCInfo(lcEngine7z, "deletion marker skipped: %s", qUtf8Printable(joined(paths.at(i))));
            state = State::Unselected;
            continue;
        }
        if (key.isEmpty() || entry.special) {
            if (entry.special)
                qCWarning(lcEngine7z, "entry not extracted, not a file, a folder or a link: %s",
                    qUtf8Printable(joined(paths.at(i))));
            state = State::Blocked;
            continue;
        }
        if (entry.folder) {
            state = found == DT_DIR ? State::Verified : State::Failed;
            if (state == State::Failed && wrongKindInTheWay(stagedPath(key), true)) {
                qCWarning(lcEngine7z, "entry not extracted, a file stands in the way: %s",
                    qUtf8Printable(joined(paths.at(i))));
                state = State::Blocked;
            }
            continue;
        }
        if (held[m_first[i]]) {
            // The program keeps the first of entries with one name, as the
            // other back-ends keep what is already there.
            qCInfo(lcEngine7z, "entry not extracted, its name came before: %s", qUtf8Printable(joined(paths.at(i))));
            state = State::Blocked;
            continue;
        }
        std::optional<std::pair<qint64, quint32>> staged;
        if (entry.link) {
            if (const auto it = targets.constFind(i); it != targets.constEnd()) {
                const QByteArray& target = it.value();
                staged = std::make_pair(
                    target.size(), libdeflate_crc32(0, target.constData(), static_cast<size_t>(target.size())));
            }
        } else {
            if (programChecked && found == DT_REG && fixMode(key, entry))
                staged = std::make_pair(entry.size, entry.crc.value_or(0));
            else if (!programChecked && found == DT_REG) {
                if (!read.contains(key))
                    read.insert(key, fileChecksum(stagedPath(key), entry.mode));
                staged = read.value(key);
            }
            if (!staged && wrongKindInTheWay(stagedPath(key), false)) {
                qCWarning(lcEngine7z, "entry not extracted, a file or a folder stands in the way: %s",
                    qUtf8Printable(joined(paths.at(i))));
                state = State::Blocked;
                continue;
            }
        }
        if (staged && staged->first == entry.size && (!entry.crc || staged->second == *entry.crc)) {
            state = State::Verified;
            held[m_first[i]] = true;
        } else {
            qCWarning(
                lcEngine7z, "entry not extracted, damaged or incomplete: %s", qUtf8Printable(joined(paths.at(i))));
        }
    }
    return states;
}

std::vector<bool> SevenZipStaging::moveFoldersWhole(EntrySink& sink, const QList<SevenZipReader::Entry>& entries,
    const QList<QStringList>& paths, const QList<State>& states)
{
    // A folder moves whole when every entry below it, and itself, passed
    // both the listing's test (see plan()) and verify(), and the staged
    // tree holds exactly those entries.
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (states.at(i) != State::Verified)
            spoil(m_self[i] >= 0 ? m_self[i] : m_parent[i]);
    }
    // Outer folders first, so that an inner one is never moved out of one
    // that moves whole.
    std::vector<std::pair<int, qsizetype>> candidates; // depth, entry
    for (const Folder& folder : m_tree) {
        if (folder.entry >= 0 && !folder.spoiled)
            candidates.emplace_back(folder.depth, folder.entry);
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<bool> moved(m_tree.size(), false);
    auto insideMoved = [&](int folder) {
        for (; folder >= 0; folder = m_tree[folder].parent) {
            if (moved[folder])
                return true;
        }
        return false;
    };
    bool anyMoved = false;
    for (const auto& [depth, i] : candidates) {
        const int id = m_self[i];
        const Folder& folder = m_tree[id];
        if (insideMoved(folder.parent) || folder.staged != folder.listed)
            continue;
        const QByteArrayList path = stagedPath(folder.key);
        const int fd = folderFd(path);
        if (fd < 0)
            continue;
        // Renaming a folder into another one needs write access to it.
        ::fchmod(fd, 0700);
        const int parent = folderFd(path.mid(0, path.size() - 1));
        std::vector<std::pair<QStringList, EntryMeta>> folders;
        for (qsizetype j : folder.folders)
            folders.emplace_back(paths.at(j), EntryMeta { entries.at(j).mode, entries.at(j).mtime });
        if (parent >= 0 && sink.moveFolderIn(parent, path.last(), paths.at(i), folders)) {
            moved[id] = true;
            anyMoved = true;
        }
    }

    std::vector<bool> placed(entries.size(), false);
    if (!anyMoved)
        return placed;
    // Descriptors of folders that moved away must not be reused.
    closeFolders();
    qint64 count = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (states.at(i) == State::Verified)
            placed[i] = insideMoved(m_self[i] >= 0 ? m_self[i] : m_parent[i]);
        count += placed[i] ? 1 : 0;
    }
    sink.countMovedIn(count);
    return placed;
}

void SevenZipStaging::moveIn(EntrySink& sink, const QList<SevenZipReader::Entry>& entries,
    const QList<QStringList>& paths, const QList<State>& states, const QHash<qsizetype, QByteArray>& targets)
{
    const std::vector<bool> placed = moveFoldersWhole(sink, entries, paths, states);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (states.at(i) != State::Verified || placed[i])
            continue;
        const SevenZipReader::Entry& entry = entries.at(i);
        const QStringList& path = paths.at(i);
        if (entry.folder) {
            sink.folder(path, { entry.mode, entry.mtime });
        } else if (entry.link) {
            sink.link(path, targets.value(i), { std::nullopt, entry.mtime });
        } else {
            const QByteArrayList staged = stagedPath(m_keys[i]);
            const int parent = folderFd(staged.mid(0, staged.size() - 1));
            if (parent < 0)
                sink.fail(QStringLiteral("staged entry vanished: ") + joined(path));
            else
                sink.moveIn(parent, staged.last(), path);
        }
    }
}
