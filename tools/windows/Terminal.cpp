// The terminal behind the selfex tool's standard streams, on Windows: the
// console. Windows sends no resize signal, so the width is asked each time.
#include "tools/Terminal.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/Win32.h"

namespace Selfex {

namespace {

constexpr size_t DEFAULT_COLUMNS = 80;

// A console, asked as the console: _isatty also says yes for NUL and other
// character devices, where a prompt would go unseen.
bool IsConsole(DWORD which)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

} // namespace

bool IsStdinTerminal()
{
    return IsConsole(STD_INPUT_HANDLE);
}

bool IsStderrTerminal()
{
    return IsConsole(STD_ERROR_HANDLE);
}

size_t StderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return DEFAULT_COLUMNS;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<size_t>(columns) : DEFAULT_COLUMNS;
}

void WatchTerminalSize() {}

void MakeStdoutBinary()
{
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

} // namespace Selfex
