#include "app/cli/TerminalOutput.h"

#include <QByteArray>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;
int g_shownPercent = -1; // -1: no bar on the screen

void write(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

QByteArray bar(int percent)
{
    const int filled = percent * kBarWidth / 100;
    return "\r[" + QByteArray(filled, '#') + QByteArray(kBarWidth - filled, ' ') + "] "
        + QByteArray::number(percent).rightJustified(3, ' ') + '%';
}

} // namespace

bool TerminalOutput::isTerminal()
{
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
}

void TerminalOutput::line(const QString& text)
{
    const int shown = g_shownPercent;
    clearProgress();
    write(text.toUtf8() + '\n');
    if (shown >= 0)
        progress(shown / 100.0);
}

void TerminalOutput::progress(double fraction)
{
    if (!isTerminal())
        return;
    const int percent = qBound(0, static_cast<int>(fraction * 100.0), 100);
    if (percent == g_shownPercent)
        return;
    g_shownPercent = percent;
    write(bar(percent));
}

void TerminalOutput::clearProgress()
{
    if (g_shownPercent < 0)
        return;
    g_shownPercent = -1;
    write("\r" + QByteArray(kBarWidth + 8, ' ') + '\r');
}
