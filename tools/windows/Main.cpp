// Entry point of selfex on Windows: wide arguments, turned into UTF-8, and a
// console that shows the UTF-8 the tool prints.
#include <io.h>

#include <cstdio>
#include <iostream>

#include "platform/Win32.h"
#include "tools/Cli.h"
#include "tools/FileIo.h"
#include "tools/TextConv.h"

int wmain(int argc, wchar_t **argv)
{
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(Selfex::WideToUtf8(argv[i]));
    }
    Selfex::ToolContext context{std::cout, std::cerr, _isatty(_fileno(stderr)) != 0, Selfex::RunningExecutablePath()};
    return Selfex::RunSelfex(args, context);
}
