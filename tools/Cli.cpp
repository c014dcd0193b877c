// The selfex command line: the commands, their usage texts and exit codes.
#include "tools/Cli.h"

#include <cstdint>

#include "tools/Interrupt.h"
#include "tools/PrintableText.h"

namespace Selfex {

namespace {

struct CommandDef {
    const char *Name;
    const char *Summary;
    const char *Usage; // the rest of --help after the summary line
    std::vector<OptionDef> Options;
    size_t MinOperands;
    size_t MaxOperands;
    int (*Run)(const ParsedArgs &, ToolContext &);
};

const std::vector<CommandDef> &Commands()
{
    static const std::vector<CommandDef> commands = {
        {"pack",
         "make a package (or a bare cabinet) of files and folders",
         "usage: selfex pack -o OUT [--stub FILE] [--compression none|mszip] [--folder-size N]\n"
         "                   [--icon FILE.ico] [--version-info KEY=VALUE]... INPUT...\n"
         "\n"
         "Writes OUT: the stub followed by a cabinet of the INPUTs. A folder contributes\n"
         "its contents, recursively, stored relative to itself; a file contributes itself\n"
         "under its own name. An OUT ending in .cab gets the bare cabinet, without a stub.\n"
         "\n"
         "  -o, --output OUT       the package to write (replaced if it exists)\n"
         "  --stub FILE            the stub executable (default: the shipped x86 stub,\n"
         "                         selfex-stub-x86.exe in ../share/selfex or in ../stub,\n"
         "                         relative to this program's folder)\n"
         "  --compression METHOD   mszip (default) or none\n"
         "  --folder-size N        start a new cabinet folder before a file that would take\n"
         "                         the folder past N uncompressed bytes (suffixes K, M, G;\n"
         "                         default and maximum 2147450880)\n"
         "  --icon FILE.ico        the package's icon, in place of the stub's own\n"
         "  --version-info KEY=VALUE  a version string of the package, once per key:\n"
         "                         ProductName, ProductVersion, FileVersion, CompanyName,\n"
         "                         FileDescription, LegalCopyright, OriginalFilename (and\n"
         "                         Comments, InternalName, LegalTrademarks, PrivateBuild,\n"
         "                         SpecialBuild); the versions start with numbers a.b.c.d\n",
         {{"output", 'o', true},
          {"stub", 0, true},
          {"compression", 0, true},
          {"folder-size", 0, true},
          {"icon", 0, true},
          {"version-info", 0, true}},
         1,
         SIZE_MAX,
         RunPack},
        {"list",
         "list the files of a package or cabinet",
         "usage: selfex list [-v] [--json] PACKAGE|CABINET\n"
         "\n"
         "Prints one line per file: size, stored date and time, attributes (R read-only,\n"
         "H hidden, S system, A archive) and name.\n"
         "\n"
         "  -v, --verbose   first say whether the package carries an Authenticode\n"
         "                  signature (present or absent; not verified)\n"
         "  --json          one JSON document instead, for scripts\n",
         {{"json", 0, false}, {"verbose", 'v', false}},
         1,
         1,
         RunList},
        {"test",
         "decode every file of a package or cabinet and check it",
         "usage: selfex test PACKAGE|CABINET\n"
         "\n"
         "Decodes every file without keeping it and reports each one with its size and\n"
         "CRC-32. Exits with 1 when any file fails.\n",
         {},
         1,
         1,
         RunTest},
        {"extract",
         "extract a package or cabinet as the package itself would",
         "usage: selfex extract [-d DIR] PACKAGE|CABINET\n"
         "\n"
         "Extracts every file with its folders, time and attributes into DIR (default:\n"
         "the current folder), refusing unsafe stored names. Shows progress on a terminal.\n"
         "\n"
         "  -d, --directory DIR   where to extract (created if missing)\n",
         {{"directory", 'd', true}},
         1,
         1,
         RunExtract},
    };
    return commands;
}

void PrintOverview(std::ostream &out)
{
    out << "usage: selfex COMMAND [OPTIONS] ARGUMENTS\n\n"
           "Makes and inspects self-extracting packages: a stub executable followed by a\n"
           "Microsoft cabinet.\n\ncommands:\n";
    for (const CommandDef &command : Commands()) {
        std::string name = command.Name;
        out << "  " << name << std::string(10 - name.size(), ' ') << command.Summary << "\n";
    }
    out << "\nRun 'selfex COMMAND --help' for the options of a command, 'selfex --version'\n"
           "for the versions of the tool and of its cabinet decoder.\n"
           "Exit codes: 0 success, 1 failure, 2 bad usage, 128+N interrupted by signal N.\n";
}

} // namespace

int Fail(ToolContext &context, const char *command, const std::string &message)
{
    context.Err << "selfex " << command << ": " << PrintableText(message) << "\n";
    return EXIT_FAILED;
}

int UsageError(ToolContext &context, const char *command, const std::string &message)
{
    context.Err << "selfex " << command << ": " << PrintableText(message) << "\n"
                << "Try 'selfex " << command << " --help'.\n";
    return EXIT_USAGE;
}

int RunSelfex(const std::vector<std::string> &args, ToolContext &context)
{
    if (args.empty()) {
        PrintOverview(context.Err);
        return EXIT_USAGE;
    }
    const std::string &name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintOverview(context.Out);
        return EXIT_OK;
    }
    if (name == "--version") {
        return RunVersion(context);
    }
    for (const CommandDef &command : Commands()) {
        if (name != command.Name) {
            continue;
        }
        std::vector<OptionDef> options = command.Options;
        options.push_back({"help", 'h', false});
        ParsedArgs parsed;
        std::string error;
        if (!ParseArgs(std::vector<std::string>(args.begin() + 1, args.end()), options, parsed, error)) {
            return UsageError(context, command.Name, error);
        }
        if (parsed.Has("help")) {
            context.Out << "selfex " << command.Name << ": " << command.Summary << "\n\n" << command.Usage;
            return EXIT_OK;
        }
        size_t count = parsed.Operands.size();
        if (count < command.MinOperands) {
            return UsageError(context, command.Name, "missing operand");
        }
        if (count > command.MaxOperands) {
            return UsageError(context, command.Name,
                              "unexpected operand '" + parsed.Operands[command.MaxOperands] + "'");
        }
        const int code = command.Run(parsed, context);
        // However the command ended, an interrupted run says so in its exit code.
        return IsInterrupted() ? InterruptExitCode() : code;
    }
    context.Err << "selfex: unknown command '" << PrintableText(name) << "'\n";
    PrintOverview(context.Err);
    return EXIT_USAGE;
}

} // namespace Selfex
