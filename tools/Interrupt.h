// Interrupts of the selfex tool (SIGINT, SIGTERM, SIGHUP; Ctrl-C and
// Ctrl-Break on Windows).
//
// The entry point's handler only records the signal. The loops that read
// and write (the raw I/O of the extractor, the packer's input and output)
// poll it and fail the run with InterruptText(), so that the ordinary
// failure paths delete the file in progress and every temporary file and
// folder; the command then exits with 128 + the signal number.
#pragma once

#include <string>

namespace Selfex {

// Remembers signal (a positive number) unless one was recorded before.
// Async-signal-safe, and safe from another thread (Windows' console
// handlers run in one).
void RecordInterrupt(int signal);
// The first signal recorded, or 0.
int InterruptSignal();
// Forgets the signal (for tests that simulate one).
void ClearInterrupt();

inline bool IsInterrupted()
{
    return InterruptSignal() != 0;
}

// "interrupted by SIGINT": the reason a run stopped.
std::string InterruptText();

// The exit code of an interrupted run: 128 + the signal number.
int InterruptExitCode();

} // namespace Selfex
