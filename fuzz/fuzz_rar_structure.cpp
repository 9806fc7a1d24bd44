// The rar block walk over arbitrary bytes: it must end, quickly, on any
// input, and never read outside what it was given.
#include "engine/extract/RarStructure.h"
#include "fuzz/FuzzSupport.h"

#include <QString>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::quietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int fd = ::memfd_create("archive.rar", MFD_CLOEXEC);
    static const QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    FUZZ_CHECK(fd >= 0 && ::ftruncate(fd, 0) == 0, "cannot make the archive file");
    FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size), "cannot write the archive file");
    const RarStructure::Ending ending = RarStructure::check(path);
    FUZZ_CHECK(ending == RarStructure::Ending::Complete || ending == RarStructure::Ending::Truncated
            || ending == RarStructure::Ending::Unknown,
        "no ending");
    return 0;
}
