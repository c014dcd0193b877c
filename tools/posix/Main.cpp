// Entry point of selfex on POSIX systems, where arguments arrive as UTF-8.
#include <signal.h>

#include <iostream>

#include "tools/Cli.h"
#include "tools/FileIo.h"
#include "tools/Interrupt.h"
#include "tools/Terminal.h"

namespace {

extern "C" void OnInterruptSignal(int signal)
{
    Selfex::RecordInterrupt(signal);
}

// SIGINT, SIGTERM and SIGHUP only record themselves: the command notices at
// its next read or write, cleans up through its failure path and exits with
// 128 + the signal number. A signal the caller chose to ignore (nohup, a
// background job of a non-interactive shell) stays ignored.
void CatchInterrupts()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = OnInterruptSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

} // namespace

int main(int argc, char **argv)
{
    CatchInterrupts();
    Selfex::WatchTerminalSize();
    std::vector<std::string> args(argv + 1, argv + argc);
    Selfex::ToolContext context{std::cout, std::cerr, Selfex::IsStderrTerminal(), Selfex::RunningExecutablePath()};
    context.In = &std::cin;
    context.InIsTerminal = Selfex::IsStdinTerminal();
    context.ErrColumns = Selfex::StderrColumns;
    context.MakeOutBinary = Selfex::MakeStdoutBinary;
    return Selfex::RunSelfex(args, context);
}
