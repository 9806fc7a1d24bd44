// A zip archive extracted end to end, as a job does: the password checks,
// then the extraction into an empty folder, the directory read in slices.
// Whatever the archive holds, nothing may land outside the folder, no link
// may lead out of it, no hidden temporary may stay, and the progress must
// run forward, to its end when the job succeeds.
#include "engine/extract/ZipReader.h"
#include "engine/safety/EntrySink.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Logging.h"

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
    ZipReader reader(archive, 1 + static_cast<qint64>(size % 3));
    Outcome result = reader.open(kPassword);
    if (result.ok()) {
        if (reader.needsPassword())
            reader.checkPassword(kPassword);
        double last = -1;
        EntrySink sink(QFile::decodeName(sandbox.dest()), lcEngineZip);
        sink.progress().setCallback([&](double fraction) {
            FUZZ_CHECK(fraction > last && fraction <= 1.0, "progress went from %f to %f", last, fraction);
            last = fraction;
        });
        ExtractRequest request;
        request.password = kPassword;
        result = reader.extract(sink, request);
        if (result.ok())
            FUZZ_CHECK(last == 1.0, "the progress stopped at %f", last);
    }
    FUZZ_CHECK(result.ok() || !result.message.isEmpty(), "a failure without a message");
    sandbox.check(QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
