#include "app/cli/TerminalToasts.h"

#include "app/cli/TerminalOutput.h"

void TerminalToasts::showMessage(const QString& text)
{
    TerminalOutput::line(text);
}

void TerminalToasts::showSuccess(const QString& text)
{
    TerminalOutput::line(text);
}

void TerminalToasts::showError(const QString& text)
{
    TerminalOutput::line(text);
}
