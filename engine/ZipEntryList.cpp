#include "engine/ZipEntryList.h"

#include "platform/Logging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

struct Child final {
    std::string name;
    struct stat st;
};

void logSkipped(const std::string& path, int error)
{
    qCWarning(lcEngineZip, "压缩时跳过: %s: %s", path.c_str(), std::strerror(error));
}

// Reads one folder's names and their own (not followed) attributes, sorted
// by name so that archives come out the same from run to run. The folder is
// closed again before the caller descends, so deep trees never pile up
// open descriptors.
bool readFolder(const std::string& path, std::vector<Child>* children)
{
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        logSkipped(path, errno);
        return false;
    }
    const int fd = ::dirfd(dir);
    while (const dirent* item = ::readdir(dir)) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0)
            continue;
        Child child {item->d_name, {}};
        if (::fstatat(fd, item->d_name, &child.st, AT_SYMLINK_NOFOLLOW) != 0) {
            logSkipped(path + '/' + child.name, errno);
            continue;
        }
        children->push_back(std::move(child));
    }
    ::closedir(dir);
    std::sort(children->begin(), children->end(),
              [](const Child& a, const Child& b) { return a.name < b.name; });
    return true;
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
    std::vector<ZipEntry> entries;
    dev_t excludedDevice = 0;
    ino_t excludedInode = 0;

    // Adds the item at `path` (attributes `st`) under `name`, with everything in it.
    void add(const std::string& path, const std::string& name, const struct stat& st)
    {
        ZipEntry entry;
        entry.mode = st.st_mode;
        entry.mtime = st.st_mtim.tv_sec;
        if (S_ISREG(st.st_mode)) {
            if (st.st_ino == excludedInode && st.st_dev == excludedDevice)
                return;
            if (!readable(st)) {
                logSkipped(path, EACCES);
                return;
            }
            entry.kind = ZipEntry::Kind::File;
            entry.name = name;
            entry.sourcePath = path;
            entry.size = static_cast<std::uint64_t>(st.st_size);
            entries.push_back(std::move(entry));
        } else if (S_ISDIR(st.st_mode)) {
            entry.kind = ZipEntry::Kind::Directory;
            entry.name = name + '/';
            entries.push_back(std::move(entry));
            addChildren(path, name + '/');
        } else if (S_ISLNK(st.st_mode)) {
            std::string target(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 1, '\0');
            const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
            if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
                logSkipped(path, length < 0 ? errno : ENAMETOOLONG);
                return;
            }
            target.resize(static_cast<std::size_t>(length));
            entry.kind = ZipEntry::Kind::Symlink;
            entry.name = name;
            entry.linkTarget = std::move(target);
            entry.size = entry.linkTarget.size();
            entries.push_back(std::move(entry));
        } else {
            // Reading a pipe would block, and devices or sockets have no content to keep.
            logSkipped(path, EINVAL);
        }
    }

    void addChildren(const std::string& folder, const std::string& prefix)
    {
        std::vector<Child> children;
        if (!readFolder(folder, &children))
            return;
        for (const Child& child : children)
            add(folder + '/' + child.name, prefix + child.name, child.st);
    }
};

} // namespace

std::vector<ZipEntry> listZipEntries(const std::string& directory, bool keepParentDirectory,
                                     const std::string& excluded)
{
    Collector collector;
    struct stat archive {};
    if (!excluded.empty() && ::stat(excluded.c_str(), &archive) == 0 && S_ISREG(archive.st_mode)) {
        collector.excludedDevice = archive.st_dev;
        collector.excludedInode = archive.st_ino;
    }
    std::string prefix;
    if (keepParentDirectory) {
        struct stat st {};
        if (::stat(directory.c_str(), &st) != 0) {
            logSkipped(directory, errno);
            return {};
        }
        std::string name = directory;
        while (name.size() > 1 && name.back() == '/')
            name.pop_back();
        name = name.substr(name.find_last_of('/') + 1);
        collector.add(directory, name, st);
        return std::move(collector.entries);
    }

    std::vector<Child> children;
    if (!readFolder(directory, &children))
        return {};
    for (Child& child : children) {
        const std::string path = directory + '/' + child.name;
        // A top-level link stands for the item itself: take what it points to.
        if (S_ISLNK(child.st.st_mode) && ::stat(path.c_str(), &child.st) != 0) {
            logSkipped(path, errno);
            continue;
        }
        const std::size_t first = collector.entries.size();
        collector.add(path, child.name, child.st);
        if (first < collector.entries.size())
            collector.entries[first].followLink = true;
    }
    return std::move(collector.entries);
}
