#include "app/cli/TerminalPanels.h"

#include "app/cli/CommandHelpers.h"
#include "app/cli/TerminalOutput.h"
#include "platform/MainQueue.h"

#include <QByteArray>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::optional<QString> askTerminal(const QString& message)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        TerminalOutput::line(
            QStringLiteral("zavrin-cli: no terminal to ask for the password on; use --password-stdin"));
        return std::nullopt;
    }
    TerminalOutput::clearProgress();
    const QByteArray prompt = message.toUtf8() + ": ";
    ::write(fd, prompt.constData(), static_cast<size_t>(prompt.size()));

    // Echo is off while the password is typed. An interrupt ends the
    // read (see Interrupts), so the settings are always restored here.
    termios saved;
    const bool canHide = ::tcgetattr(fd, &saved) == 0;
    if (canHide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    const std::optional<QString> line = Cli::readLine(fd);
    if (canHide)
        ::tcsetattr(fd, TCSANOW, &saved);
    if (!line)
        ::write(fd, "\n", 1);
    ::close(fd);
    return line;
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
    return Cli::readLine(STDIN_FILENO);
}

void TerminalPanels::askPassword(const PasswordRequest& request, PasswordCompletion completion)
{
    MainQueue::async([this, message = request.message, completion = std::move(completion)] {
        completion(m_passwordFromStdin ? readFromStdin() : askTerminal(message));
    });
}
