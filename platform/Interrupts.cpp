#include "platform/Interrupts.h"

#include <QMutex>
#include <QMutexLocker>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> g_received = 0;
// Readable once a signal came; never drained, so every later wait ends too.
int g_wake[2] = { -1, -1 };
QMutex g_handlerMutex;
Interrupts::Handler g_handler; // guarded by g_handlerMutex
bool g_armed = false; // likewise

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void Interrupts::install(Handler handler)
{
    {
        QMutexLocker lock(&g_handlerMutex);
        g_handler = std::move(handler);
        g_armed = true;
    }
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (::pipe2(g_wake, O_CLOEXEC) != 0)
        g_wake[0] = g_wake[1] = -1;
    std::thread([set] {
        int signal = 0;
        while (sigwait(&set, &signal) != 0) { }
        g_received.store(signal);
        if (g_wake[1] >= 0)
            (void)::write(g_wake[1], "!", 1);
        QMutexLocker lock(&g_handlerMutex);
        if (!g_armed)
            std::_Exit(128 + signal);
        if (g_handler)
            g_handler(signal);
        // Later signals stay blocked: the program is already stopping.
    }).detach();
}

void Interrupts::disarm()
{
    QMutexLocker lock(&g_handlerMutex);
    g_armed = false;
    g_handler = nullptr;
}

int Interrupts::received()
{
    return g_received.load();
}

int Interrupts::exitStatus(int status)
{
    const int signal = received();
    return signal != 0 ? 128 + signal : status;
}

std::optional<QByteArray> Interrupts::readLine(int fd)
{
    QByteArray line;
    char c = 0;
    for (;;) {
        if (g_wake[0] >= 0) {
            pollfd waits[2] = { { fd, POLLIN, 0 }, { g_wake[0], POLLIN, 0 } };
            if (::poll(waits, 2, -1) < 0 && errno != EINTR)
                return std::nullopt;
            if (waits[1].revents != 0)
                return std::nullopt;
            if (waits[0].revents == 0)
                continue;
        }
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
        if (c == '\n')
            return line;
        line.append(c);
    }
}
