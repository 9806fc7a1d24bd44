#pragma once

#include "platform/Outcome.h"
#include "platform/Panels.h"

// Panels of the command-line front end. There are no file panels: open and
// save are answered as cancelled. The password sheet becomes a prompt on
// the terminal (/dev/tty) with echo off; with `passwordFromStdin` the first
// request is answered by the first line of standard input and every later
// one is cancelled, so that a wrong password ends the run. End of input
// cancels; so does a line that cannot be a password (a NUL character, or
// not UTF-8), which is said on standard error and kept as refusal().
// Answers arrive on the main thread, after what is already queued there (a
// toast about a wrong password is printed before the next prompt).
class TerminalPanels final : public Panels {
public:
    explicit TerminalPanels(bool passwordFromStdin);

    void open(const OpenRequest& request, PathsCompletion completion) override;
    void save(const SaveRequest& request, PathCompletion completion) override;
    void askPassword(const PasswordRequest& request, PasswordCompletion completion) override;

    // Usage when a password was refused, else Done.
    const Outcome& refusal() const { return m_refusal; }

private:
    std::optional<QString> readFromStdin();

    bool m_passwordFromStdin = false;
    bool m_stdinUsed = false;
    Outcome m_refusal;
};
