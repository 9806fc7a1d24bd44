#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>
#include <cstddef>
#include <cstdint>

// Helpers shared by the fuzz targets. A failed check prints its message and
// aborts, so that libFuzzer keeps the input as a crash.
namespace fuzz {

// Drops Qt's log output (the engine logs every refused entry) unless
// ZAVRIN_FUZZ_LOG is set in the environment.
void quietLogs();

[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

#define FUZZ_CHECK(condition, ...)                                                                                     \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::fuzz::fail(__VA_ARGS__);                                                                                 \
    } while (0)

// Removes `name` in the folder `dirFd` and everything below it, following no
// link and opening up folders whose mode shuts them.
void removeTree(int dirFd, const char* name);

// Where a link at `linkPath` (components below the root, every folder on the
// way a real one) pointing to `target` ends up, following the links it meets
// inside the root the way the system would. False when any step climbs
// above the root or the target is absolute; a link listed in `trusted` was
// there before the job and counts as inside, wherever it points. With a
// `rootFd` of -1 no link is followed: the target is judged by its text alone.
bool resolvesInside(
    int rootFd, const QByteArrayList& linkPath, const QByteArray& target, const QSet<QByteArray>& trusted = {});

// A private folder for one fuzzer process, removed at exit:
//   <base>/jail/p/q/dest      the destination of the job
//   <base>/jail/p/q/outside   holds one file, "keep"
// Anything written up to three levels above the destination lands in the
// jail, where check() finds it.
class Sandbox final {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    QByteArray base() const { return m_base; } // for the harness's own files
    QByteArray dest() const { return m_base + "/jail/p/q/dest"; }
    QByteArray outside() const { return m_base + "/jail/p/q/outside"; }

    // Starts the next run with an empty destination.
    void reset();
    // After a job: the jail holds nothing new and "keep" is unchanged; the
    // destination holds only files, folders and links, no set-id or sticky
    // bit, no link that leaves it, and no hidden temporary (".zavrin-" and
    // eight hex digits, unless `input` names it: then it may be an entry).
    void check(const QByteArray& input, const QSet<QByteArray>& trusted = {}) const;

private:
    QByteArray m_base;
};

} // namespace fuzz
