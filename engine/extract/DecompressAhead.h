#pragma once

#include "engine/extract/TarFormat.h"
#include "platform/Outcome.h"

#include <QString>
#include <array>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

struct archive;

// Decompresses one file through libarchive's filter for one compression, on
// a thread of its own, ahead of its reader, and hands the bytes out a block
// at a time: the reader parses and writes while the next blocks are being
// decompressed, as `tar -xzf` does with the decompressor in a second
// process. At most kBlocks blocks exist, so memory stays flat whatever the
// size. start() and next() are called on one thread, the reader's.
class DecompressAhead final {
public:
    // Blocks that stay in the processor's cache between being filled and
    // being written out: reading a tar in 256 KiB blocks costs twice the
    // time of 64 KiB ones.
    static constexpr qint64 kBlockSize = 64 * 1024;
    static constexpr std::size_t kBlocks = 16;

    DecompressAhead(const QString& path, const TarFormat& format);
    // Stops the thread, which may be in the middle of a block.
    ~DecompressAhead();
    DecompressAhead(const DecompressAhead&) = delete;
    DecompressAhead& operator=(const DecompressAhead&) = delete;

    // Opens the file and decompresses far enough to know that it is
    // compressed as expected (NotAnArchive otherwise, Damaged when its start
    // is broken, Failed or NoPermission when it cannot be read), then starts
    // the thread; when the system refuses one, next() decompresses itself.
    Outcome start();
    // The next block of decompressed bytes, valid until the following call:
    // its size, 0 at the end, -1 on a failure (see failure()).
    qint64 next(const char** data);
    // Why next() answered -1: Damaged for data that does not decompress.
    Outcome failure() const;
    // Compressed bytes read so far; any thread.
    qint64 consumed() const { return m_consumed.load(std::memory_order_relaxed); }
    // The modification time kept in the compressed file's header (gzip);
    // known after start().
    std::optional<timespec> storedTime() const { return m_storedTime; }

private:
    struct Block {
        std::unique_ptr<char[]> data;
        qint64 size = 0;
    };
    void produce();
    // Decompresses into `block`; false at the end or on a failure.
    bool fill(Block& block);

    const QString m_path;
    const TarFormat m_format;
    archive* m_archive = nullptr;
    std::optional<timespec> m_storedTime;
    std::array<Block, kBlocks> m_blocks;
    std::thread m_thread;
    bool m_threaded = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    // Under m_mutex: blocks ready for the reader from m_readAt on, whether
    // the reader still holds the one before, and how the data ended.
    std::size_t m_readAt = 0;
    std::size_t m_ready = 0;
    bool m_holding = false;
    bool m_ended = false;
    bool m_stop = false;
    Outcome m_failure;
    std::atomic<qint64> m_consumed = 0;
};
