#pragma once

#include "ZipEntryEncoder.h"
#include "ZipSourceFile.h"
#include "engine/StopToken.h"
#include "engine/zipwrite/ZipEntryList.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Compresses the entries of an archive on worker threads ahead of the
// thread that writes it, which then only lays the bytes out in list order.
// Most entries are one job each and come out finished; a large entry is
// cut into pieces of one deflate stream, read from the one descriptor
// opened for the file, compressed side by side and then encrypted in order. Finished work waits within a memory
// budget, so the workers never run more than that far ahead, and a file of
// any size needs no more. Once `stop` is requested the jobs not started
// come out Cancelled. take() is called from one thread, in job order.
class ZipEncodeAhead final {
public:
    ZipEncodeAhead(const std::vector<ZipEntry>& entries, int level, const std::string* password, StopToken stop,
        unsigned threads, std::size_t budget);
    ~ZipEncodeAhead(); // stops the workers, dropping unfinished work
    ZipEncodeAhead(const ZipEncodeAhead&) = delete;
    ZipEncodeAhead& operator=(const ZipEncodeAhead&) = delete;

    // Where entry `entry`'s jobs are: the first one and how many. A
    // directory has none; an entry with more than one comes in pieces.
    std::size_t firstJob(std::size_t entry) const { return m_firstJob[entry]; }
    std::size_t jobCount(std::size_t entry) const { return m_firstJob[entry + 1] - m_firstJob[entry]; }

    // Waits for job `job` and hands it over.
    std::unique_ptr<EncodedPiece> take(std::size_t job);

    // Entries larger than this are cut into pieces of kPieceSize. Whole
    // entries compress fastest; pieces keep every core busy on one large
    // file, and its memory bounded.
    static constexpr std::uint64_t kLargestWhole = 8 * 1024 * 1024;
    static constexpr std::uint64_t kPieceSize = 1024 * 1024;

private:
    struct Job final {
        std::size_t entry = 0;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        bool whole = true;
        bool last = true;
    };

    // A large file, opened by the first of its pieces to start and closed
    // once the last one is done.
    struct OpenFile final {
        std::once_flag once;
        std::unique_ptr<ZipSourceFile> file;
        Outcome opened;
    };

    struct Sealing final {
        std::unique_ptr<ZipAesEncryptor> encryptor;
        std::size_t next = 0; // next job to encrypt
        bool busy = false; // a worker is encrypting
        bool failed = false;
    };

    void work();
    void encode(ZipEntryEncoder& encoder, const Job& job, const std::shared_ptr<OpenFile>& file, EncodedPiece* result);
    void markReady(std::size_t job);
    void sealInOrder(std::unique_lock<std::mutex>& lock, std::size_t entry);

    const std::vector<ZipEntry>& m_entries;
    const int m_level;
    const std::string* m_password;
    const StopToken m_stopToken;
    const std::size_t m_budget;
    std::vector<Job> m_jobs;
    std::vector<std::size_t> m_firstJob;

    std::mutex m_mutex;
    std::condition_variable m_workerWake;
    std::condition_variable m_writerWake;
    std::vector<std::unique_ptr<EncodedPiece>> m_done;
    std::vector<bool> m_ready; // done and, for pieces with a password, encrypted
    std::unordered_map<std::size_t, Sealing> m_sealing; // by entry
    std::unordered_map<std::size_t, std::shared_ptr<OpenFile>> m_open; // by entry, until its last piece is claimed
    std::size_t m_next = 0; // next job a worker claims
    std::size_t m_writerAt = 0; // job the writer waits for
    std::size_t m_held = 0; // bytes of results and reservations
    int m_workersWaiting = 0; // workers held back by the budget
    bool m_writerWaiting = false;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};
