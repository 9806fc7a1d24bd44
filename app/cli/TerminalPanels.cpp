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

// The answer to a password request: the line read, none when input ended
// or the line cannot be a password (said on the terminal, and kept in `refusal`).
std::optional<QString> answer(const Outcome& read, const QString& password, Outcome* refusal)
{
    if (read.status == Outcome::Status::Usage) {
        TerminalOutput::line(QStringLiteral("zavrin-cli: ") + read.message);
        *refusal = read;
    }
    return read.ok() ? std::optional<QString>(password) : std::nullopt;
}

std::optional<QString> askTerminal(const QString& message, Outcome* refusal)
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
    QString password;
    const Outcome read = Cli::readPassword(fd, &password);
    if (canHide)
        ::tcsetattr(fd, TCSANOW, &saved);
    if (read.status == Outcome::Status::Cancelled)
        ::write(fd, "\n", 1);
    ::close(fd);
    return answer(read, password, refusal);
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
    QString password;
    const Outcome read = Cli::readPassword(STDIN_FILENO, &password);
    return answer(read, password, &m_refusal);
}

void TerminalPanels::askPassword(const PasswordRequest& request, PasswordCompletion completion)
{
    MainQueue::async([this, message = request.message, completion = std::move(completion)] {
        completion(m_passwordFromStdin ? readFromStdin() : askTerminal(message, &m_refusal));
    });
}
