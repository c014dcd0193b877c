// Entry point of selfex on POSIX systems, where arguments arrive as UTF-8.
#include <unistd.h>

#include <iostream>

#include "tools/Cli.h"
#include "tools/FileIo.h"

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Selfex::ToolContext context{std::cout, std::cerr, isatty(STDERR_FILENO) != 0, Selfex::RunningExecutablePath()};
    return Selfex::RunSelfex(args, context);
}
