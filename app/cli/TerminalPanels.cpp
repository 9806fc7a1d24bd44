#include "app/cli/TerminalPanels.h"

#include "app/cli/TerminalOutput.h"
#include "platform/MainQueue.h"

#include <QByteArray>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The terminal's settings while echo is off, restored if the user
// interrupts the prompt.
int g_ttyFd = -1;
termios g_savedTty;

extern "C" void restoreTerminalAndDie(int signal)
{
    if (g_ttyFd >= 0)
        ::tcsetattr(g_ttyFd, TCSANOW, &g_savedTty);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Reads one line from `fd`; no value at end of input before any character.
std::optional<QByteArray> readLine(int fd)
{
    QByteArray line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.isEmpty() ? std::nullopt : std::optional<QByteArray>(line);
        if (c == '\n')
            return line;
        line.append(c);
    }
}

QString chompped(const QByteArray& line)
{
    return QString::fromUtf8(line.endsWith('\r') ? line.chopped(1) : line);
}

std::optional<QString> askTerminal(const QString& message)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        TerminalOutput::line(QStringLiteral("zavrin-cli: no terminal to ask for the password on; use --password-stdin"));
        return std::nullopt;
    }
    TerminalOutput::clearProgress();
    const QByteArray prompt = message.toUtf8() + ": ";
    ::write(fd, prompt.constData(), static_cast<size_t>(prompt.size()));

    termios quiet;
    const bool canHide = ::tcgetattr(fd, &g_savedTty) == 0;
    if (canHide) {
        g_ttyFd = fd;
        quiet = g_savedTty;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        std::signal(SIGINT, restoreTerminalAndDie);
        std::signal(SIGTERM, restoreTerminalAndDie);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    const std::optional<QByteArray> line = readLine(fd);
    if (canHide) {
        ::tcsetattr(fd, TCSANOW, &g_savedTty);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        g_ttyFd = -1;
    }
    if (!line)
        ::write(fd, "\n", 1);
    ::close(fd);
    return line ? std::optional<QString>(chompped(*line)) : std::nullopt;
}

} // namespace

TerminalPanels::TerminalPanels(bool passwordFromStdin)
    : m_passwordFromStdin(passwordFromStdin)
{
}

void TerminalPanels::open(const OpenRequest&, PathsCompletion completion)
{
    MainQueue::async([completion = std::move(completion)] { completion({}); });
}

void TerminalPanels::save(const SaveRequest&, PathCompletion completion)
{
    MainQueue::async([completion = std::move(completion)] { completion({}); });
}

std::optional<QString> TerminalPanels::readFromStdin()
{
    if (m_stdinUsed)
        return std::nullopt;
    m_stdinUsed = true;
    const std::optional<QByteArray> line = readLine(STDIN_FILENO);
    return line ? std::optional<QString>(chompped(*line)) : std::nullopt;
}

void TerminalPanels::askPassword(const PasswordRequest& request, PasswordCompletion completion)
{
    MainQueue::async([this, message = request.message, completion = std::move(completion)] {
        completion(m_passwordFromStdin ? readFromStdin() : askTerminal(message));
    });
}
