// Entry point of selfex on Windows: wide arguments, turned into UTF-8, and a
// console that shows the UTF-8 the tool prints.
#include <cstdio>
#include <iostream>

#include "platform/Win32.h"
#include "tools/Cli.h"
#include "tools/FileIo.h"
#include "tools/Interrupt.h"
#include "tools/Terminal.h"
#include "tools/TextConv.h"

namespace {

// The C runtime's numbers for what the console reports.
constexpr int SIGNAL_INT = 2;
constexpr int SIGNAL_TERM = 15;
constexpr int SIGNAL_BREAK = 21;
// Windows ends the process this long after a close, logoff or shutdown
// event unless the handler returns first.
constexpr DWORD CLOSE_GRACE_MS = 4000;

// Runs on a thread of its own. Ctrl-C and Ctrl-Break are recorded and the
// command notices at its next read or write, cleans up through its failure
// path and exits with 128 + the number. A closing console ends the process
// when the handler returns, so the handler waits there while the command
// cleans up (the process ends with it).
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: Selfex::RecordInterrupt(SIGNAL_INT); return TRUE;
    case CTRL_BREAK_EVENT: Selfex::RecordInterrupt(SIGNAL_BREAK); return TRUE;
    default:
        Selfex::RecordInterrupt(SIGNAL_TERM);
        Sleep(CLOSE_GRACE_MS);
        return TRUE;
    }
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(Selfex::WideToUtf8(argv[i]));
    }
    Selfex::ToolContext context{std::cout, std::cerr, Selfex::IsStderrTerminal(), Selfex::RunningExecutablePath()};
    context.In = &std::cin;
    context.InIsTerminal = Selfex::IsStdinTerminal();
    context.ErrColumns = Selfex::StderrColumns;
    context.MakeOutBinary = Selfex::MakeStdoutBinary;
    return Selfex::RunSelfex(args, context);
}
