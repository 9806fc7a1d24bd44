// The entry-name and link-target checks, and the destination that applies
// them, driven by a script of entries. Each line of the input is one entry:
//   d<name>[\t<octal mode>]   folder          f<name>[\t<octal mode>]   file
//   l<name>\t<target>         link            m<name>\t<target>         staged link moved in
//   s<name>[\t<octal mode>]   staged file moved in
//   h<name>\t<entry>          hard link to an entry   c<name>\t<entry>          copy of an entry
// The destination starts with the user's file "existing" and the user's link
// "ext" to a folder outside; neither may change, and nothing may reach outside.
#include "engine/safety/EntryNames.h"
#include "engine/safety/SafeDestination.h"
#include "fuzz/FuzzSupport.h"

#include <QFile>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxEntries = 64;
const QByteArray kMine("mine\n");
const QByteArray kContent("content\n");

using Result = Outcome::Status;

QByteArrayList encoded(const QStringList& path)
{
    QByteArrayList parts;
    for (const QString& part : path)
        parts.append(QFile::encodeName(part));
    return parts;
}

void checkSplit(const QString& name, const std::optional<QStringList>& path)
{
    const bool unsafe = name.startsWith(u'/') || name.contains(QChar(u'\0')) || name.split(u'/').contains(u"..");
    FUZZ_CHECK(path.has_value() != unsafe, "splitEntryName %s %s", path ? "accepted" : "refused", qUtf8Printable(name));
    if (!path)
        return;
    for (const QByteArray& part : encoded(*path)) {
        FUZZ_CHECK(!part.isEmpty() && part != "." && part != ".." && !part.contains('/') && !part.contains('\0'),
            "splitEntryName gave the component '%s'", part.constData());
    }
}

// The folder holding the last component of `path`, entered without following
// any link; -1 when something else stands on the way.
int parentOf(int rootFd, const QByteArrayList& path)
{
    int fd = ::dup(rootFd);
    for (qsizetype i = 0; fd >= 0 && i + 1 < path.size(); ++i) {
        const int next = ::openat(fd, path.at(i).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

QByteArray fileContent(int dirFd, const char* name)
{
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    char buffer[64];
    const ssize_t n = fd >= 0 ? ::read(fd, buffer, sizeof buffer) : -1;
    if (fd >= 0)
        ::close(fd);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

QByteArray linkTarget(int dirFd, const char* name)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(dirFd, name, buffer, sizeof buffer);
    return n < 0 ? QByteArray() : QByteArray(buffer, n);
}

// What an entry promised when it was Written is really there.
void checkWritten(int rootFd, char kind, const QByteArrayList& path, const QByteArray& target)
{
    const int parent = parentOf(rootFd, path);
    FUZZ_CHECK(parent >= 0, "the folder of a written entry cannot be entered: %s", path.join('/').constData());
    const QByteArray name = path.last();
    struct stat st;
    FUZZ_CHECK(::fstatat(parent, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0, "a written entry is missing: %s",
        path.join('/').constData());
    if (kind == 'd')
        FUZZ_CHECK(S_ISDIR(st.st_mode), "a written folder is no folder");
    else if (kind == 'l' || kind == 'm') // a staged link holds its target up to a NUL
        FUZZ_CHECK(S_ISLNK(st.st_mode)
                && linkTarget(parent, name.constData()) == (kind == 'l' ? target : QByteArray(target.constData())),
            "a written link does not point where the entry said");
    else if (kind == 'h' || kind == 'c') {
        const QByteArrayList from = encoded(EntryNames::split(QString::fromUtf8(target)).value());
        const int fromParent = parentOf(rootFd, from);
        FUZZ_CHECK(S_ISREG(st.st_mode) && fromParent >= 0
                && fileContent(parent, name.constData()) == fileContent(fromParent, from.last().constData()),
            "a linked or copied entry differs from its original");
        ::close(fromParent);
    } else if (kind == 'f' || kind == 's')
        FUZZ_CHECK(S_ISREG(st.st_mode) && fileContent(parent, name.constData()) == kContent,
            "a written file does not hold the entry's content");
    ::close(parent);
}

class Staging final {
public:
    explicit Staging(const QByteArray& path)
    {
        fuzz::removeTree(AT_FDCWD, path.constData());
        ::mkdir(path.constData(), 0700);
        m_fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        FUZZ_CHECK(m_fd >= 0, "cannot make the staging folder");
    }
    ~Staging() { ::close(m_fd); }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    int fd() const { return m_fd; }
    // A new staged item's name.
    QByteArray next() { return QByteArray::number(++m_count); }

private:
    int m_fd = -1;
    int m_count = 0;
};

void writeFile(int dirFd, const char* name, const QByteArray& content, mode_t mode)
{
    const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0 && ::write(fd, content.constData(), static_cast<size_t>(content.size())) == content.size(),
        "cannot stage a file");
    ::fchmod(fd, mode);
    ::close(fd);
}

Result apply(SafeDestination& destination, Staging& staging, char kind, const QStringList& path,
    const QByteArray& target, const EntryMeta& meta)
{
    switch (kind) {
    case 'd':
        return destination.makeDirectory(path, meta).status;
    case 'l':
        return destination.makeSymlink(path, target, meta).status;
    case 'f': {
        PendingFile file;
        const Result begun = destination.beginFile(path, file, meta).status;
        if (begun != Result::Done)
            return begun;
        FUZZ_CHECK(file.write(kContent.constData(), kContent.size()), "cannot write a pending file");
        return destination.commitFile(file, meta).status;
    }
    case 'm':
    case 's': {
        const QByteArray name = staging.next();
        if (kind == 'm' && ::symlinkat(target.constData(), staging.fd(), name.constData()) != 0)
            return Result::Blocked; // the system refuses an empty target
        if (kind == 's')
            writeFile(staging.fd(), name.constData(), kContent, meta.mode.value_or(0644));
        return destination.moveIn(staging.fd(), name, path).status;
    }
    case 'h':
    case 'c': {
        const std::optional<QStringList> existing = EntryNames::split(QString::fromUtf8(target));
        if (!existing)
            return Result::Blocked;
        return (kind == 'h' ? destination.hardLinkEntry(path, *existing) : destination.copyEntry(path, *existing, meta))
            .status;
    }
    default:
        return Result::Blocked;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Sandbox sandbox;
    sandbox.reset();
    const QByteArray root = sandbox.dest();
    {
        const int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        writeFile(fd, "existing", kMine, 0644);
        FUZZ_CHECK(::symlinkat(sandbox.outside().constData(), fd, "ext") == 0, "cannot make the user's link");
        ::close(fd);
    }
    Staging staging(sandbox.base() + "/staging");
    SafeDestination destination(QFile::decodeName(root));
    FUZZ_CHECK(destination.isOpen(), "cannot open the destination");

    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArrayList lines = input.split('\n');
    for (qsizetype i = 0; i < std::min<qsizetype>(lines.size(), kMaxEntries); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.isEmpty())
            continue;
        const char kind = line.at(0);
        const qsizetype tab = line.indexOf('\t');
        const QString name = QString::fromUtf8(line.mid(1, tab < 0 ? -1 : tab - 1));
        const QByteArray argument = tab < 0 ? QByteArray() : line.mid(tab + 1);
        const std::optional<QStringList> path = EntryNames::split(name);
        checkSplit(name, path);
        if (!path)
            continue;
        if (EntryNames::linkStaysInside(*path, argument))
            FUZZ_CHECK(fuzz::resolvesInside(-1, encoded(*path), argument), "linkStaysInside let %s through",
                argument.constData());
        EntryMeta meta;
        bool octal = false;
        if (const uint mode = argument.toUInt(&octal, 8); octal && (kind == 'd' || kind == 'f' || kind == 's'))
            meta.mode = static_cast<mode_t>(mode & 07777);
        const Result result = apply(destination, staging, kind, *path, argument, meta);
        if (result == Result::Done && !path->isEmpty()) {
            const int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            checkWritten(fd, kind, encoded(*path), argument);
            ::close(fd);
        }
    }
    destination.finish(); // false only where a folder's own mode shuts out a user other than root

    const int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(fileContent(fd, "existing") == kMine, "the user's file changed");
    FUZZ_CHECK(linkTarget(fd, "ext") == sandbox.outside(), "the user's link changed");
    ::close(fd);
    sandbox.check(input, { "ext" });
    return 0;
}
