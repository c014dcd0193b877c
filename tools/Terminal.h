// The terminal behind the selfex tool's standard streams, for the entry
// points: whether a stream is one, how wide the error output's is, and
// standard output switched to bytes for "extract --stdout".
#pragma once

#include <cstddef>

namespace Selfex {

bool IsStdinTerminal();
bool IsStderrTerminal();

// Columns of the terminal on the error output: read once, and again after
// the terminal reports a resize (SIGWINCH on POSIX; Windows is asked each
// time). 80 when it cannot be told.
size_t StderrColumns();

// Starts following resizes of the terminal (POSIX: a SIGWINCH handler that
// only records the event).
void WatchTerminalSize();

// Switches standard output to bytes as they are (Windows would turn "\n"
// into "\r\n"); nothing to do on POSIX.
void MakeStdoutBinary();

} // namespace Selfex
