#include "fuzz/FuzzSupport.h"

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

namespace {

const QByteArray kKeep("keep\n");
constexpr int kMaxLinkHops = 40; // the system's own limit before ELOOP

QByteArrayList entriesOf(int dirFd)
{
    QByteArrayList names;
    const int fd = ::dup(dirFd);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    }
    ::closedir(dir);
    return names;
}

int openFolder(int dirFd, const char* name)
{
    return ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

void expectOnly(int dirFd, const char* where, const QByteArrayList& expected)
{
    for (const QByteArray& name : entriesOf(dirFd)) {
        FUZZ_CHECK(expected.contains(name), "something escaped the destination: %s/%s", where, name.constData());
    }
}

// Resolves `target` from the folder `at`; on return `at` is where it led.
bool resolve(int rootFd, QByteArrayList& at, const QByteArray& target, const QSet<QByteArray>& trusted, int& hops)
{
    if (target.startsWith('/'))
        return false;
    for (const QByteArray& part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (at.isEmpty())
                return false;
            at.removeLast();
            continue;
        }
        at.append(part);
        const QByteArray path = at.join('/');
        if (trusted.contains(path))
            return true;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlinkat(rootFd, path.constData(), buffer, sizeof buffer);
        if (n < 0)
            continue; // not a link, or nothing there yet: the name stands as it is
        if (++hops > kMaxLinkHops)
            return true; // the system gives up with ELOOP
        at.removeLast();
        if (!resolve(rootFd, at, QByteArray(buffer, n), trusted, hops))
            return false;
    }
    return true;
}

bool isTemporary(const QByteArray& name)
{
    static const QByteArray prefix(".zavrin-");
    return name.size() == prefix.size() + 8 && name.startsWith(prefix)
        && std::all_of(name.cbegin() + prefix.size(), name.cend(),
            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

struct TreeCheck {
    int rootFd;
    const QByteArray& input;
    const QSet<QByteArray>& trusted;
};

void checkTree(const TreeCheck& tree, int dirFd, const QByteArrayList& path)
{
    const int rootFd = tree.rootFd;
    const QSet<QByteArray>& trusted = tree.trusted;
    for (const QByteArray& name : entriesOf(dirFd)) {
        const QByteArrayList entryPath = path + QByteArrayList { name };
        const QByteArray shown = entryPath.join('/');
        FUZZ_CHECK(!isTemporary(name) || tree.input.contains(name), "a hidden temporary was left behind: %s",
            shown.constData());
        struct stat st;
        FUZZ_CHECK(::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0, "cannot look at %s: %s",
            shown.constData(), std::strerror(errno));
        if (S_ISLNK(st.st_mode)) {
            if (trusted.contains(shown))
                continue;
            char buffer[PATH_MAX];
            const ssize_t n = ::readlinkat(dirFd, name.constData(), buffer, sizeof buffer);
            FUZZ_CHECK(n >= 0, "cannot read the link %s", shown.constData());
            FUZZ_CHECK(resolvesInside(rootFd, entryPath, QByteArray(buffer, n), trusted),
                "the link %s -> %s leaves the destination", shown.constData(), QByteArray(buffer, n).constData());
            continue;
        }
        FUZZ_CHECK(
            S_ISREG(st.st_mode) || S_ISDIR(st.st_mode), "%s is neither a file, a folder nor a link", shown.constData());
        FUZZ_CHECK(
            !(st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)), "%s has the mode %o", shown.constData(), st.st_mode & 07777);
        if (S_ISDIR(st.st_mode)) {
            const int fd = openFolder(dirFd, name.constData());
            if (fd < 0)
                continue; // shut by its mode, for a user other than root
            checkTree(tree, fd, entryPath);
            ::close(fd);
        }
    }
}

void silent(QtMsgType, const QMessageLogContext&, const QString&)
{
}

} // namespace

void quietLogs()
{
    if (!qEnvironmentVariableIsSet("ZAVRIN_FUZZ_LOG"))
        qInstallMessageHandler(silent);
}

void fail(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::fputs("fuzz check failed: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    va_end(arguments);
    std::abort();
}

void removeTree(int dirFd, const char* name)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(dirFd, name, 0);
        return;
    }
    ::fchmodat(dirFd, name, 0700, 0);
    const int fd = openFolder(dirFd, name);
    if (fd >= 0) {
        for (const QByteArray& child : entriesOf(fd))
            removeTree(fd, child.constData());
        ::close(fd);
    }
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

bool resolvesInside(
    int rootFd, const QByteArrayList& linkPath, const QByteArray& target, const QSet<QByteArray>& trusted)
{
    QByteArrayList at = linkPath.mid(0, linkPath.size() - 1);
    int hops = 0;
    return resolve(rootFd, at, target, trusted, hops);
}

Sandbox::Sandbox()
{
    const QByteArray temp = qEnvironmentVariableIsEmpty("TMPDIR") ? QByteArray("/tmp") : qgetenv("TMPDIR");
    QByteArray pattern = temp + "/zavrin-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()), "cannot make a folder in %s", temp.constData());
    m_base = pattern;
    for (const char* folder : { "/jail", "/jail/p", "/jail/p/q", "/jail/p/q/outside" })
        FUZZ_CHECK(::mkdir(QByteArray(m_base + folder).constData(), 0755) == 0, "cannot make %s", folder);
    FILE* keep = std::fopen(QByteArray(outside() + "/keep").constData(), "w");
    FUZZ_CHECK(
        keep && std::fwrite(kKeep.constData(), 1, kKeep.size(), keep) == size_t(kKeep.size()), "cannot write keep");
    std::fclose(keep);
    reset();
}

Sandbox::~Sandbox()
{
    const QByteArray parent = m_base.left(m_base.lastIndexOf('/'));
    const int fd = ::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        removeTree(fd, m_base.mid(parent.size() + 1).constData());
        ::close(fd);
    }
}

void Sandbox::reset()
{
    const int fd = ::open(QByteArray(m_base + "/jail/p/q").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "the sandbox is gone");
    removeTree(fd, "dest");
    FUZZ_CHECK(::mkdirat(fd, "dest", 0755) == 0, "cannot make the destination");
    ::close(fd);
}

void Sandbox::check(const QByteArray& input, const QSet<QByteArray>& trusted) const
{
    const struct {
        const char* path;
        QByteArrayList expected;
    } levels[] = { { "/jail", { "p" } }, { "/jail/p", { "q" } }, { "/jail/p/q", { "dest", "outside" } },
        { "/jail/p/q/outside", { "keep" } } };
    for (const auto& level : levels) {
        const int fd
            = ::open(QByteArray(m_base + level.path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        FUZZ_CHECK(fd >= 0, "%s was replaced", level.path);
        expectOnly(fd, level.path, level.expected);
        ::close(fd);
    }
    FILE* keep = std::fopen(QByteArray(outside() + "/keep").constData(), "r");
    char content[16] = {};
    const size_t n = keep ? std::fread(content, 1, sizeof content, keep) : 0;
    if (keep)
        std::fclose(keep);
    FUZZ_CHECK(QByteArray(content, static_cast<qsizetype>(n)) == kKeep, "a file outside the destination changed");
    struct stat st;
    FUZZ_CHECK(::stat(QByteArray(outside() + "/keep").constData(), &st) == 0 && st.st_nlink == 1,
        "a file outside the destination was linked into it");

    const int root = ::open(dest().constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    FUZZ_CHECK(root >= 0, "the destination was replaced");
    checkTree({ root, input, trusted }, root, {});
    ::close(root);
}

} // namespace fuzz
