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

} // namespace

bool IsStdinTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

bool IsStderrTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
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
