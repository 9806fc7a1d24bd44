#include "engine/zipwrite/ZipEntryList.h"

#include "platform/Folders.h"
#include "platform/Logging.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Child final {
    std::string name;
    struct stat st;
};

std::string describe(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
}

Outcome::Status statusOf(int error)
{
    return error == EACCES || error == EPERM ? Outcome::Status::NoPermission : Outcome::Status::Failed;
}

// Whether the permission bits let us read a file: the same answer as
// access(2) for all but files opened up by an ACL, without a system call
// per file. A file that still cannot be opened fails the archive later.
bool readable(const struct stat& st)
{
    static const uid_t user = ::geteuid();
    static const std::vector<gid_t> groups = [] {
        std::vector<gid_t> list(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
        const int count = ::getgroups(static_cast<int>(list.size()) - 1, list.data());
        list.resize(static_cast<std::size_t>(std::max(count, 0)));
        list.push_back(::getegid());
        return list;
    }();
    if (user == 0)
        return true;
    if (st.st_uid == user)
        return st.st_mode & S_IRUSR;
    if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end())
        return st.st_mode & S_IRGRP;
    return st.st_mode & S_IROTH;
}

class Collector final {
public:
    std::vector<ZipEntry>* entries = nullptr;
    Outcome failure;
    dev_t excludedDevice = 0;
    ino_t excludedInode = 0;

    bool failed() const { return !failure.ok(); }

    // Adds the item at `path` (attributes `st`) under `name`, with everything in it.
    void add(const std::string& path, const std::string& name, const struct stat& st)
    {
        ZipEntry entry;
        entry.mode = st.st_mode;
        entry.uid = st.st_uid;
        entry.gid = st.st_gid;
        entry.mtime = st.st_mtim.tv_sec;
        entry.mtimeNanoseconds = st.st_mtim.tv_nsec;
        if (S_ISREG(st.st_mode)) {
            if (st.st_ino == excludedInode && st.st_dev == excludedDevice)
                return;
            if (!readable(st))
                return fail(path, EACCES);
            entry.kind = ZipEntry::Kind::File;
            entry.name = name;
            entry.sourcePath = path;
            entry.size = static_cast<std::uint64_t>(st.st_size);
            entry.device = st.st_dev;
            entry.inode = st.st_ino;
            entries->push_back(std::move(entry));
        } else if (S_ISDIR(st.st_mode)) {
            entry.kind = ZipEntry::Kind::Directory;
            entry.name = name + '/';
            entries->push_back(std::move(entry));
            addChildren(path, name + '/');
        } else if (S_ISLNK(st.st_mode)) {
            // Some file systems give links a size of 0: allow for any length.
            std::string target(static_cast<std::size_t>(std::max<off_t>(st.st_size, PATH_MAX)) + 1, '\0');
            const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
            if (length < 0 && errno == ENOENT)
                return vanished(path);
            if (length < 0 || static_cast<std::size_t>(length) >= target.size())
                return fail(path, length < 0 ? errno : ENAMETOOLONG);
            target.resize(static_cast<std::size_t>(length));
            entry.kind = ZipEntry::Kind::Symlink;
            entry.name = name;
            entry.linkTarget = std::move(target);
            entry.size = entry.linkTarget.size();
            entries->push_back(std::move(entry));
        } else {
            // Reading a pipe would block, and devices or sockets have no content to keep.
            qCWarning(lcEngineZip, "压缩时跳过: %s: not a file, folder or link", path.c_str());
        }
    }

    void fail(const std::string& path, int error)
    {
        if (failure.ok())
            failure = { .status = statusOf(error),
                .message = QString::fromStdString("cannot read " + describe(path, error)) };
    }
    void fail(const std::string& what)
    {
        if (failure.ok())
            failure = { .status = Outcome::Status::Failed, .message = QString::fromStdString("cannot read " + what) };
    }

private:
    // Something deleted while the folder was read is not the user's loss.
    static void vanished(const std::string& path)
    {
        qCWarning(lcEngineZip, "压缩时跳过: %s: removed while being listed", path.c_str());
    }

    // Reads one folder's names and their own (not followed) attributes,
    // sorted by name so that archives come out the same from run to run.
    // The folder is closed again before the caller descends, so deep trees
    // never pile up open descriptors.
    bool readFolder(const std::string& path, std::vector<Child>* children)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const std::optional<std::vector<Folders::Entry>> names
            = fd >= 0 ? Folders::list(fd) : std::optional<std::vector<Folders::Entry>>();
        if (!names) {
            fail(path, errno);
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        for (const Folders::Entry& entry : *names) {
            Child child { entry.name.toStdString(), {} };
            if (::fstatat(fd, child.name.c_str(), &child.st, AT_SYMLINK_NOFOLLOW) == 0)
                children->push_back(std::move(child));
            else if (errno == ENOENT)
                vanished(path + '/' + child.name);
            else
                fail(path + '/' + child.name, errno);
        }
        ::close(fd);
        std::sort(children->begin(), children->end(), [](const Child& a, const Child& b) { return a.name < b.name; });
        return !failed();
    }

    void addChildren(const std::string& folder, const std::string& prefix)
    {
        std::vector<Child> children;
        if (!readFolder(folder, &children))
            return;
        for (const Child& child : children) {
            add(folder + '/' + child.name, prefix + child.name, child.st);
            if (failed())
                return;
        }
    }
};

} // namespace

namespace ZipEntryList {

Outcome listItems(const std::vector<ZipItem>& items, const std::string& excluded, std::vector<ZipEntry>* entries)
{
    entries->clear();
    Collector collector;
    collector.entries = entries;
    struct stat archive { };
    if (!excluded.empty() && ::stat(excluded.c_str(), &archive) == 0 && S_ISREG(archive.st_mode)) {
        collector.excludedDevice = archive.st_dev;
        collector.excludedInode = archive.st_ino;
    }
    for (const ZipItem& item : items) {
        // An item that is a link stands for what it points to.
        struct stat st { };
        if (::stat(item.path.c_str(), &st) != 0) {
            collector.fail(item.path, errno);
        } else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
            collector.fail(item.path + ": not a file or a folder");
        } else {
            const std::size_t first = entries->size();
            collector.add(item.path, item.name, st);
            if (first < entries->size())
                (*entries)[first].followLink = true;
        }
        if (collector.failed()) {
            entries->clear();
            break;
        }
    }
    return collector.failure;
}

} // namespace ZipEntryList
