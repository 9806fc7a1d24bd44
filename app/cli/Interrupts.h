#pragma once

#include <QByteArray>
#include <optional>

// SIGINT, SIGTERM and SIGHUP in the command-line front end. They are
// blocked in every thread and taken by a thread of their own, so that no
// handler runs in the middle of the engine's work: the first one asks every
// engine job to stop (JobStop), which then removes what it has not
// completed and ends as a failed job, and it wakes any read waiting below.
// The program then exits with 128 plus the signal's number.
class Interrupts final {
public:
    // Call first thing in main, before any thread exists: threads made
    // later inherit the blocked signals.
    static void install();
    // The first signal received, 0 when none.
    static int received();
    // The exit status for a run that `status` would have ended otherwise.
    static int exitStatus(int status);
    // Reads one line (without its "\n") from `fd`. No value at end of input
    // before any character, or once a signal came.
    static std::optional<QByteArray> readLine(int fd);
};
