// A zip archive extracted end to end, as a job does: the password checks,
// then the extraction into an empty folder, the directory read in slices.
// Whatever the archive holds, nothing may land outside the folder, no link
// may lead out of it, no hidden temporary may stay, and the progress must
// run forward to its end.
#include "engine/extract/ZipReader.h"
#include "fuzz/FuzzSupport.h"

#include <QFile>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Every encrypted fixture uses this password, so that mutations of them get
// past the password checks into the decoding.
const QString kPassword = QStringLiteral("secret");
// A deflate stream of a few kilobytes can stand for gigabytes; each file the
// job writes is cut off here (and fails) instead.
constexpr rlim_t kMaxFileSize = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLogs();
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit { kMaxFileSize, kMaxFileSize };
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::Sandbox sandbox;
    sandbox.reset();
    const QString archive = QFile::decodeName(sandbox.base() + "/archive.zip");
    {
        QFile file(archive);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size))
                    == static_cast<qint64>(size),
            "cannot write the archive");
    }

    // Directories of a few entries are read in slices of one to three, as
    // those of a million are read in slices of 65 536.
    const ZipReader reader(archive, 1 + static_cast<qint64>(size % 3));
    if (reader.isPasswordProtected())
        reader.checkPassword(kPassword);
    qint64 last = -1;
    qint64 lastTotal = -1;
    const Outcome result
        = reader.extractTo(QFile::decodeName(sandbox.dest()), kPassword, [&](qint64 index, qint64 total) {
              FUZZ_CHECK(index > last && index <= total && (lastTotal < 0 || total == lastTotal),
                  "progress went from %lld/%lld to %lld/%lld", last, lastTotal, index, total);
              last = index;
              lastTotal = total;
          });
    if (reader.isOpen())
        FUZZ_CHECK(last == lastTotal, "the progress stopped at %lld of %lld", last, lastTotal);
    FUZZ_CHECK(result.ok() || !result.message.isEmpty(), "a failure without a message");
    sandbox.check(QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
