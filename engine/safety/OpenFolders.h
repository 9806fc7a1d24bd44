#pragma once

#include "platform/Outcome.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

// The folders below a destination as one job sees them: entered one
// component at a time with O_NOFOLLOW, so a link (or a file) in the way
// blocks an entry instead of leading elsewhere; made when missing; their
// descriptors cached. One lock guards them and whatever the caller keeps
// beside them; every placement takes it through a Parent.
class OpenFolders final {
public:
    // Called, under the lock, for every folder made here.
    using OnMade = std::function<void(const QStringList& path)>;

    // `rootFd` stays the caller's. `nameMax` is the longest name the file
    // system takes.
    OpenFolders(int rootFd, long nameMax, OnMade onMade);
    ~OpenFolders();
    OpenFolders(const OpenFolders&) = delete;
    OpenFolders& operator=(const OpenFolders&) = delete;

    // The folder holding the last component of a path, and that
    // component's name, looked up under the lock, which it holds until it
    // goes or unlock() is called.
    class Parent final {
    public:
        bool ok() const { return m_fd >= 0; }
        // Why the lookup failed: Blocked, NoSpace or Failed.
        const Outcome& failure() const { return m_failure; }
        // The folder's descriptor, valid while the lock is held.
        int fd() const { return m_fd; }
        const QByteArray& name() const { return m_name; }
        // A descriptor of the folder of the caller's own, valid after the
        // lock is let go; -1 (errno set) when the system has none to give.
        int duplicate() const;
        void unlock() { m_lock.unlock(); }

    private:
        friend class OpenFolders;
        std::unique_lock<std::mutex> m_lock;
        int m_fd = -1;
        QByteArray m_name;
        Outcome m_failure;
    };

    // Locks, then opens (with `create`, making what is missing) the
    // folder holding `path`'s last component and checks that name.
    Parent parentOf(const QStringList& path, bool create);
    // Opens the folder `path` itself; the caller holds the lock. -1 with
    // `result` set when it cannot.
    int folder(const QStringList& path, bool create, Outcome* result);
    std::unique_lock<std::mutex> lock() { return std::unique_lock(m_mutex); }

    // Folders made by this job (under the lock).
    bool made(const QString& key) const { return m_made.contains(key); }
    // Notes a folder made by this job and tells OnMade.
    void noteMade(const QStringList& path);
    // Notes a folder that came with one moved in whole: not told.
    void noteMovedIn(const QStringList& path) { m_made.insert(path.join(u'/')); }
    // Closes every cached descriptor (under the lock).
    void closeAll();

    static Outcome failed(const QString& what, const QStringList& path, int error);
    static Outcome blocked(const QString& why, const QStringList& path);

private:
    int openParent(const QStringList& path, bool create, QByteArray* name, Outcome* result);

    std::mutex m_mutex;
    int m_rootFd;
    long m_nameMax;
    OnMade m_onMade;
    QHash<QString, int> m_fds; // relative path -> descriptor
    QSet<QString> m_made;
};
