#pragma once

#include <QByteArray>
#include <functional>
#include <optional>

// SIGINT, SIGTERM and SIGHUP, taken on a thread of their own instead of a
// handler that could run in the middle of any work. They are blocked in
// every thread; the first one is handed to the callback given to install()
// (on that thread) and wakes any read waiting in readLine(). Later ones are
// ignored: the program is already on its way out. The program then exits
// with 128 plus the signal's number (exitStatus()).
class Interrupts final {
public:
    using Handler = std::function<void(int signal)>;

    // Call first thing in main, before any thread exists: threads made
    // later inherit the blocked signals.
    static void install(Handler handler);
    // No handler is called from now on (a signal then ends the program at
    // once, as nothing is left to clean up); call before the objects the
    // handler uses go.
    static void disarm();
    // The first signal received, 0 when none.
    static int received();
    // The exit status for a run that `status` would have ended otherwise.
    static int exitStatus(int status);
    // Reads one line (without its "\n") from `fd`. No value at end of input
    // before any character, or once a signal came.
    static std::optional<QByteArray> readLine(int fd);
};
