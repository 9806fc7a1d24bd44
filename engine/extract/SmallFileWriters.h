#pragma once

#include "engine/safety/SafeDestination.h"

#include <QByteArray>
#include <QSet>
#include <QStringList>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class EntrySink;

// Writes small files, whose data the reader already holds, through the
// job's sink on worker threads while the reader goes on reading: extracting
// a tar of many small files is mostly making files, which the system does
// for several threads at once. Queued files are written in any order, so
// before placing any entry the reader asks makeWayFor(), which waits for the
// queue when the entry's outcome could depend on a queued file (one name
// twice, a file where a folder is needed). At most kMaxQueuedFiles files of
// kMaxQueued bytes in all wait.
// The reader's thread calls everything but the `placed` callback, which
// runs on a worker.
class SmallFileWriters final {
public:
    static constexpr qint64 kMaxFileSize = 64 * 1024;
    static constexpr qint64 kMaxQueued = 16 << 20;
    static constexpr std::size_t kMaxQueuedFiles = 4096;

    struct File {
        QStringList path;
        EntryMeta meta;
        QByteArray data;
    };
    // After `path` got its name.
    using Placed = std::function<void(const QStringList& path)>;

    SmallFileWriters(EntrySink& sink, Placed placed);
    // Waits for the files queued.
    ~SmallFileWriters();
    SmallFileWriters(const SmallFileWriters&) = delete;
    SmallFileWriters& operator=(const SmallFileWriters&) = delete;

    // Starts up to `count` workers; false when the system gave none, and
    // the caller writes its files itself.
    bool start(unsigned count);
    // Before placing the entry at `path` (a file or link when `leaf`, else a
    // folder), here or by post(): waits for the queue when a queued file is
    // at `path` or on its way, or, for a leaf, `path` is on a queued file's
    // way.
    void makeWayFor(const QStringList& path, bool leaf);
    // Queues `file`, after makeWayFor(), waiting while the queue is full.
    // A file queued once a stop is requested is dropped.
    void post(File file);
    // Wakes idle workers for the files queued, however few: for when the
    // reader turns to something long, such as a large file of its own.
    void kick();
    // Returns once every file queued so far is written (or given up).
    void drain();
    // True when nothing is queued or being written.
    bool idle();

private:
    enum class Waiting {
        No,
        ForRoom,
        ForEnd,
    };
    static constexpr std::size_t kWakeFiles = 16;
    static constexpr qint64 kWakeBytes = 256 * 1024;

    // Waits on m_room, with the workers woken first, until `done`.
    template <typename Predicate> void waitFor(std::unique_lock<std::mutex>& lock, Waiting why, Predicate done);
    void work();
    void write(File& file);
    // Hashes of the path's first 1, 2, … components, keyed.
    std::vector<std::size_t> prefixHashes(const QStringList& path) const;

    EntrySink& m_sink;
    const Placed m_placed;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_work; // for workers waiting for files
    std::condition_variable m_room; // for the reader waiting for room, or for the end
    std::deque<File> m_queue; // under m_mutex, like the five below
    qint64 m_queuedBytes = 0;
    std::size_t m_busy = 0; // files taken but not written yet
    std::size_t m_idleWorkers = 0;
    Waiting m_waiting = Waiting::No;
    bool m_closing = false;
    // The reader's own: queued files and the folders on their way, since
    // the queue was last seen empty.
    const std::size_t m_seed;
    QSet<std::size_t> m_queuedLeaves;
    QSet<std::size_t> m_queuedFolders;
};
