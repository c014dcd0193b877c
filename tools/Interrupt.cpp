// Interrupts of the selfex tool.
#include "tools/Interrupt.h"

#include <atomic>

namespace Selfex {

namespace {

// Lock-free, so that a signal handler may store into it.
std::atomic<int> g_InterruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the interrupt flag must be usable in a signal handler");

// Signal numbers as POSIX and Windows' C runtime number them.
constexpr int SIGNAL_HUP = 1;
constexpr int SIGNAL_INT = 2;
constexpr int SIGNAL_TERM = 15;
constexpr int SIGNAL_BREAK = 21; // Windows' Ctrl-Break

} // namespace

void RecordInterrupt(int signal)
{
    int none = 0;
    g_InterruptSignal.compare_exchange_strong(none, signal);
}

int InterruptSignal()
{
    return g_InterruptSignal.load();
}

void ClearInterrupt()
{
    g_InterruptSignal.store(0);
}

std::string InterruptText()
{
    const int signal = InterruptSignal();
    switch (signal) {
    case SIGNAL_HUP: return "interrupted by SIGHUP";
    case SIGNAL_INT: return "interrupted by SIGINT";
    case SIGNAL_TERM: return "interrupted by SIGTERM";
    case SIGNAL_BREAK: return "interrupted by Ctrl-Break";
    default: return "interrupted by signal " + std::to_string(signal);
    }
}

int InterruptExitCode()
{
    return 128 + InterruptSignal();
}

} // namespace Selfex
