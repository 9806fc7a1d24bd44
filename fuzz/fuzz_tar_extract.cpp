// A file of the tar family listed and extracted end to end, as a job does,
// into an empty folder: libarchive reading it, the decompressor ahead of it
// on its own thread, entries placed through the sink. The name follows the
// content's magic bytes (and, for compressed data, the input's length: a
// tar inside or one file alone), so mutations reach every path. Whatever the
// archive holds, nothing may land outside the folder, no link may lead out
// of it and no hidden temporary may stay.
#include "engine/StopToken.h"
#include "engine/extract/TarReader.h"
#include "engine/safety/EntrySink.h"
#include "fuzz/FuzzSupport.h"

#include <QFile>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <sys/resource.h>
#include <thread>

namespace {

// A few kilobytes of bzip2 or zstd can stand for gigabytes; each file the
// job writes is cut off here (and fails) instead.
constexpr rlim_t kMaxFileSize = 1 << 20;
// Skipping a huge entry still decompresses it: a job still running by then
// is stopped, as the user would.
constexpr auto kPatience = std::chrono::seconds(3);
constexpr int kMaxListed = 10000;

const char* suffixFor(const uint8_t* data, size_t size)
{
    const auto starts
        = [&](const char* magic, size_t length) { return size >= length && std::memcmp(data, magic, length) == 0; };
    const bool single = size % 2 == 1;
    if (starts("\x1f\x8b", 2))
        return single ? ".gz" : ".tar.gz";
    if (starts("BZh", 3))
        return single ? ".bz2" : ".tar.bz2";
    if (starts("\xfd"
               "7zXZ",
            5))
        return single ? ".xz" : ".tar.xz";
    if (starts("\x28\xb5\x2f\xfd", 4))
        return single ? ".zst" : ".tar.zst";
    if (starts("\x04\x22\x4d\x18", 4))
        return ".tar.lz4";
    return ".tar";
}

// Stops the job once kPatience has passed, until it is done.
class Watchdog final {
public:
    Watchdog()
        : m_thread([this] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, kPatience, [this] { return m_finished; }))
                StopToken::stopAll();
        })
    {
    }
    ~Watchdog()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
        StopToken::resumeForTesting();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLogs();
    const rlimit limit { kMaxFileSize, kMaxFileSize };
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // libFuzzer installs its own SIGXFSZ handler after initializing the
    // target: past the limit, a write is to fail, not to end the run.
    static const bool oversizeIgnored = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    static fuzz::Sandbox sandbox;
    FUZZ_CHECK(oversizeIgnored, "cannot ignore SIGXFSZ");
    sandbox.reset();
    const QString archive = QFile::decodeName(sandbox.base() + "/archive" + suffixFor(data, size));
    {
        QFile file(archive);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size))
                    == static_cast<qint64>(size),
            "cannot write the archive");
    }

    Outcome result;
    {
        const Watchdog watchdog;
        TarReader lister(archive);
        if (lister.open(std::nullopt).ok()) {
            int listed = 0;
            const Outcome listing = lister.list([&](const ArchiveEntry& entry) {
                FUZZ_CHECK(entry.size >= -1, "a size of %lld", static_cast<long long>(entry.size));
                return ++listed < kMaxListed;
            });
            FUZZ_CHECK(listing.ok() || !listing.message.isEmpty(), "a listing failed without a message");
        }
        TarReader reader(archive);
        reader.open(std::nullopt);
        EntrySink sink(QFile::decodeName(sandbox.dest()), lcEngineTar);
        result = reader.extract(sink, {});
    }
    FUZZ_CHECK(result.ok() || !result.message.isEmpty(), "a failure without a message");
    sandbox.check(QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    QFile::remove(archive);
    return 0;
}
