// The selfex command line: the commands, their usage texts and exit codes.
//
// Every command prints what it produced to Out and its complaints to Err,
// prefixed "selfex COMMAND:". Exit codes: 0 success, 1 failure, 2 bad usage,
// 128 + N when signal N interrupted the command (tools/Interrupt.h).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/ArgParser.h"

namespace Selfex {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// What a command run talks to.
struct ToolContext {
    std::ostream &Out;
    std::ostream &Err;
    bool ErrIsTerminal = false; // a progress bar is drawn on Err only then
    std::string ExecutablePath; // UTF-8 path of the running selfex; the default stub lies beside it
};

// Runs one command line (args without the program name) and returns its exit code.
int RunSelfex(const std::vector<std::string> &args, ToolContext &context);

// For the commands: reports a failure ("selfex NAME: message", the message
// escaped as PrintableText does) and returns EXIT_FAILED.
int Fail(ToolContext &context, const char *command, const std::string &message);
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
