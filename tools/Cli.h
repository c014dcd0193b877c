// The selfex command line: the commands, their usage texts and exit codes.
//
// Every command prints what it produced to Out and its complaints to Err,
// prefixed "selfex COMMAND:". Exit codes: 0 success, 1 failure, 2 bad usage,
// 128 + N when signal N interrupted the command (tools/Interrupt.h).
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/ArgParser.h"

namespace Selfex {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// What a command run talks to. The entry points fill in the real streams
// and terminal; the tests leave the terminal parts at their defaults.
struct ToolContext {
    std::ostream &Out;
    std::ostream &Err;
    bool ErrIsTerminal = false; // progress is drawn on Err only then
    std::string ExecutablePath; // UTF-8 path of the running selfex; the shipped stubs are found from it
    std::istream *In = nullptr; // where answers to questions come from (extract --overwrite=ask)
    bool InIsTerminal = false;
    size_t (*ErrColumns)() = nullptr;  // the width of Err's terminal, following resizes; null: 80
    void (*MakeOutBinary)() = nullptr; // called before file bytes go to Out (extract --stdout)
};

// How much a command says besides its results and errors: -q, -v.
enum class Verbosity {
    Quiet,
    Normal,
    Verbose,
};
Verbosity VerbosityOf(const ParsedArgs &args);

// Runs one command line (args without the program name) and returns its exit code.
int RunSelfex(const std::vector<std::string> &args, ToolContext &context);

// For the commands: reports a failure ("selfex NAME: message", the message
// escaped as PrintableText does) and returns EXIT_FAILED.
int Fail(ToolContext &context, const char *command, const std::string &message);
// Reports something worth knowing that is no failure: "selfex NAME: note: message".
void Note(ToolContext &context, const char *command, const std::string &message);
// Reports bad usage with a pointer to --help and returns EXIT_USAGE.
int UsageError(ToolContext &context, const char *command, const std::string &message);

// The commands, called with their parsed arguments.
int RunPack(const ParsedArgs &args, ToolContext &context);
int RunList(const ParsedArgs &args, ToolContext &context);
int RunTest(const ParsedArgs &args, ToolContext &context);
int RunExtract(const ParsedArgs &args, ToolContext &context);
// selfex --version: the tool's version and its decoder library's.
int RunVersion(ToolContext &context);

} // namespace Selfex
