// The terminal behind the selfex tool's standard streams, on POSIX systems.
#include "tools/Terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace Selfex {

namespace {

constexpr size_t DEFAULT_COLUMNS = 80;

// Set by the handler, taken by the next StderrColumns.
std::atomic<bool> g_SizeChanged{true};
size_t g_Columns = DEFAULT_COLUMNS;

extern "C" void OnWindowChange(int)
{
    g_SizeChanged.store(true);
}

size_t ReadColumns()
{
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    // A terminal that does not say (some emulators over a serial line).
    const char *columns = std::getenv("COLUMNS");
    const long value = columns != nullptr ? std::strtol(columns, nullptr, 10) : 0;
    return value > 0 ? static_cast<size_t>(value) : DEFAULT_COLUMNS;
}

} // namespace

bool IsStdinTerminal()
{
    return isatty(STDIN_FILENO) != 0;
}

bool IsStderrTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

size_t StderrColumns()
{
    if (g_SizeChanged.exchange(false)) {
        g_Columns = ReadColumns();
    }
    return g_Columns;
}

void WatchTerminalSize()
{
    struct sigaction action {};
    action.sa_handler = OnWindowChange;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
}

void MakeStdoutBinary() {}

} // namespace Selfex
