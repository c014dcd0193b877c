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

// Every command takes -q, -v and this; each says what -q and -v do for it.
const char HELP_OPTION_HELP[] = "  -h, --help             show this help\n";

const std::vector<CommandDef> &Commands()
{
    static const std::vector<CommandDef> commands = {
        {"pack",
         "make a package (or a bare cabinet) of files and folders",
         "usage: selfex pack -o OUT [OPTIONS] INPUT...\n"
         "\n"
         "Writes OUT: a stub followed by a cabinet of the INPUTs. A folder contributes\n"
         "its contents, recursively, stored relative to itself; a file contributes itself\n"
         "under its own name. An OUT ending in .cab gets the bare cabinet, without a stub.\n"
         "Times a cabinet cannot hold (before 1980, after 2107) are stored as the nearest\n"
         "it can, with a note. Shows progress on a terminal.\n"
         "\n"
         "  -o, --output OUT       the package to write (replaced if it exists)\n"
         "  --arch ARCH            the shipped stub to put in front: x86 (default) or x64,\n"
         "                         selfex-stub-ARCH.exe in ../share/selfex or in ../stub,\n"
         "                         relative to this program's folder\n"
         "  --x64                  the same as --arch x64\n"
         "  --stub FILE            a stub of your own instead of a shipped one\n"
         "  --compression METHOD   mszip (default), none, or lzx: smaller, slower to make,\n"
         "                         with a window of 2^21 bytes; lzx:15 ... lzx:21 choose\n"
         "                         the window (2^15 ... 2^21 bytes)\n"
         "  --level N              LZX effort, 1 (fastest) to 9 (smallest), default 5.\n"
         "                         Each level searches the places where the next 5\n"
         "                         bytes were seen before, the latest first: up to 4, 6,\n"
         "                         8, 12, 16, 24 of them (levels 1-6) or 48, 128, 256\n"
         "                         (7-9, much slower). From level 2 on a match may give\n"
         "                         way to a better one a byte later, from level 5 on also\n"
         "                         to one two bytes later\n"
         "  --best                 the same as --level 9\n"
         "  --folder-size N        start a new cabinet folder before a file that would take\n"
         "                         the folder past N uncompressed bytes (suffixes K, M, G;\n"
         "                         default 32M, maximum 2147450880)\n"
         "  -j, --jobs N           compress N folders at once (default: one per core); the\n"
         "                         cabinet is the same whatever N\n"
         "  --exclude GLOB         leave out the files and folders GLOB matches (repeatable):\n"
         "                         their stored name, or any level of it when GLOB holds no\n"
         "                         / or \\ (\"*.o\", \".git\", \"build/*\"); * matches any run of\n"
         "                         characters, ? one; letter case is ignored\n"
         "  --links MODE           symbolic links below a folder: skip (default; left out\n"
         "                         with a note), follow (store what they lead to) or error\n"
         "  --icon FILE.ico        the package's icon, in place of the stub's own\n"
         "  --version-info KEY=VALUE  a version string of the package, once per key:\n"
         "                         ProductName, ProductVersion, FileVersion, CompanyName,\n"
         "                         FileDescription, LegalCopyright, OriginalFilename (and\n"
         "                         Comments, InternalName, LegalTrademarks, PrivateBuild,\n"
         "                         SpecialBuild); the versions start with numbers a.b.c.d\n"
         "  -q, --quiet            errors only: no notes, no summary line\n"
         "  -v, --verbose          every note, every stored name and every excluded one\n",
         {{"output", 'o', true},
          {"arch", 0, true},
          {"x64", 0, false},
          {"stub", 0, true},
          {"compression", 0, true},
          {"level", 0, true},
          {"best", 0, false},
          {"folder-size", 0, true},
          {"jobs", 'j', true},
          {"exclude", 0, true},
          {"links", 0, true},
          {"icon", 0, true},
          {"version-info", 0, true}},
         1,
         SIZE_MAX,
         RunPack},
        {"list",
         "list the files of a package or cabinet",
         "usage: selfex list [OPTIONS] PACKAGE|CABINET\n"
         "\n"
         "Prints one line per stored file: size, stored date and time, attributes (R\n"
         "read-only, H hidden, S system, A archive), a mark and the name; then the\n"
         "totals: files, bytes, folders, compression, cabinet size and ratio. The mark\n"
         "! flags a name that test and extract refuse as unsafe: list then warns and\n"
         "exits with 1. The mark < flags a file that begins in an earlier cabinet of\n"
         "the set; a cabinet that continues a set says which cabinet the set starts\n"
         "with.\n"
         "\n"
         "  --json                 one JSON document instead, for scripts; a failure adds\n"
         "                         an \"error\" member\n"
         "  -q, --quiet            the file lines only, without the totals\n"
         "  -v, --verbose          also each file's folder, each folder's compressed size,\n"
         "                         and first whether the package carries an Authenticode\n"
         "                         signature (present or absent; not verified)\n",
         {{"json", 0, false}},
         1,
         1,
         RunList},
        {"test",
         "decode every file of a package or cabinet and check it",
         "usage: selfex test [OPTIONS] PACKAGE|CABINET...\n"
         "\n"
         "Decodes every file without keeping it and checks its size and checksums.\n"
         "Prints each file that fails and a summary, and exits with 1 when any file\n"
         "fails. Shows progress on a terminal.\n"
         "\n"
         "  -j, --jobs N           decode N folders at once (default: one per core)\n"
         "  -q, --quiet            failures only, without the summary\n"
         "  -v, --verbose          every file, with its size and CRC-32\n",
         {{"jobs", 'j', true}},
         1,
         SIZE_MAX,
         RunTest},
        {"extract",
         "extract a package or cabinet as the package itself would",
         "usage: selfex extract [OPTIONS] PACKAGE [PATTERN...]\n"
         "\n"
         "Extracts the files of PACKAGE (a package or a cabinet) with their folders,\n"
         "times and attributes, refusing unsafe stored names before writing anything.\n"
         "PATTERNs select files by stored name: * matches any run of characters, ? one;\n"
         "letter case is ignored and / and \\ are alike; a pattern that matches a folder\n"
         "selects everything below it. A later operand that names an existing .exe or\n"
         ".cab file is one more package (-F takes a pattern that looks like one). Shows\n"
         "progress on a terminal.\n"
         "\n"
         "  -d, --directory DIR    where to extract (default: the current folder; made\n"
         "                         if missing)\n"
         "  -s, --into-subfolder   into DIR/NAME instead, NAME being the package's file\n"
         "                         name up to its last dot, as the package itself does\n"
         "  -p, --stdout           write the selected files' bytes to standard output,\n"
         "                         one after the other, instead of files\n"
         "  -F, --filter PATTERN   one more pattern (repeatable)\n"
         "  --overwrite WHEN       for a file that exists: ask (default on a terminal),\n"
         "                         never (default otherwise: kept, and counted) or always\n"
         "  -f, --force            the same as --overwrite always\n"
         "  -n, --no-overwrite     the same as --overwrite never\n"
         "  -j, --jobs N           decode N folders at once (default: one per core;\n"
         "                         one with -v, --stdout or questions)\n"
         "  -q, --quiet            errors only: no notes, no progress, no summary line\n"
         "  -v, --verbose          every file extracted or kept, and the summary line\n",
         {{"directory", 'd', true},
          {"into-subfolder", 's', false},
          {"stdout", 'p', false},
          {"filter", 'F', true},
          {"overwrite", 0, true},
          {"force", 'f', false},
          {"no-overwrite", 'n', false},
          {"jobs", 'j', true}},
         1,
         SIZE_MAX,
         RunExtract},
    };
    return commands;
}

const CommandDef *FindCommand(const std::string &name)
{
    for (const CommandDef &command : Commands()) {
        if (name == command.Name) {
            return &command;
        }
    }
    return nullptr;
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
    out << "\nRun 'selfex help COMMAND' or 'selfex COMMAND --help' for the options of a\n"
           "command, 'selfex --version' for the versions of the tool and of its cabinet\n"
           "decoder. Every command takes -q (errors only) and -v (more detail).\n"
           "Exit codes: 0 success, 1 failure, 2 bad usage, 128+N interrupted by signal N.\n";
}

void PrintCommandHelp(std::ostream &out, const CommandDef &command)
{
    out << "selfex " << command.Name << ": " << command.Summary << "\n\n" << command.Usage << HELP_OPTION_HELP;
}

int RunCommand(const CommandDef &command, const std::vector<std::string> &args, ToolContext &context)
{
    std::vector<OptionDef> options = command.Options;
    options.push_back({"quiet", 'q', false});
    options.push_back({"verbose", 'v', false});
    options.push_back({"help", 'h', false});
    ParsedArgs parsed;
    std::string error;
    if (!ParseArgs(args, options, parsed, error)) {
        return UsageError(context, command.Name, error);
    }
    if (parsed.Has("help")) {
        PrintCommandHelp(context.Out, command);
        return EXIT_OK;
    }
    if (parsed.Has("quiet") && parsed.Has("verbose")) {
        return UsageError(context, command.Name, "-q and -v exclude each other");
    }
    size_t count = parsed.Operands.size();
    if (count < command.MinOperands) {
        return UsageError(context, command.Name, "missing operand");
    }
    if (count > command.MaxOperands) {
        return UsageError(context, command.Name, "unexpected operand '" + parsed.Operands[command.MaxOperands] + "'");
    }
    const int code = command.Run(parsed, context);
    // However the command ended, an interrupted run says so in its exit code.
    return IsInterrupted() ? InterruptExitCode() : code;
}

} // namespace

Verbosity VerbosityOf(const ParsedArgs &args)
{
    return args.Has("quiet") ? Verbosity::Quiet : args.Has("verbose") ? Verbosity::Verbose : Verbosity::Normal;
}

int Fail(ToolContext &context, const char *command, const std::string &message)
{
    context.Err << "selfex " << command << ": " << PrintableText(message) << "\n";
    return EXIT_FAILED;
}

void Note(ToolContext &context, const char *command, const std::string &message)
{
    context.Err << "selfex " << command << ": note: " << PrintableText(message) << "\n";
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
    if (name == "--help" || name == "-h" || (name == "help" && args.size() == 1)) {
        PrintOverview(context.Out);
        return EXIT_OK;
    }
    if (name == "--version") {
        return RunVersion(context);
    }
    if (name == "help") {
        // "selfex help CMD" is "selfex CMD --help".
        const CommandDef *command = FindCommand(args[1]);
        if (command == nullptr || args.size() > 2) {
            context.Err << "selfex help: "
                        << (command ? "unexpected operand '" + PrintableText(args[2]) + "'"
                                    : "unknown command '" + PrintableText(args[1]) + "'")
                        << "\n";
            PrintOverview(context.Err);
            return EXIT_USAGE;
        }
        PrintCommandHelp(context.Out, *command);
        return EXIT_OK;
    }
    if (const CommandDef *command = FindCommand(name)) {
        return RunCommand(*command, std::vector<std::string>(args.begin() + 1, args.end()), context);
    }
    context.Err << "selfex: unknown command '" << PrintableText(name) << "'\n";
    PrintOverview(context.Err);
    return EXIT_USAGE;
}

} // namespace Selfex
