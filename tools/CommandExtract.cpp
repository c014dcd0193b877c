// selfex extract: extracts packages or cabinets as the package itself
// would, or only the files patterns select, into a folder or to standard
// output, with a choice for files that exist.
#include <algorithm>
#include <filesystem>
#include <memory>

#include "tools/CabinetSet.h"
#include "tools/Cli.h"
#include "tools/FolderWorkers.h"
#include "tools/Interrupt.h"
#include "tools/NamePattern.h"
#include "tools/NameReview.h"
#include "tools/PackageReader.h"
#include "tools/PrintableText.h"
#include "tools/ProgressBar.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

const char COMMAND[] = "extract";

enum class Overwrite {
    Ask,
    Always,
    Never,
};

struct ExtractOptions {
    std::vector<std::string> Packages;
    std::vector<CNamePattern> Patterns;
    std::string Destination;
    bool IntoSubfolder = false;
    bool ToStdout = false;
    Overwrite Policy = Overwrite::Never;
    Verbosity Level = Verbosity::Normal;
    unsigned Jobs = 1;
};

// A later operand is one more package when it names an existing .exe or
// .cab file; anything else selects stored names.
bool IsPackageOperand(const std::string &operand)
{
    std::error_code ignored;
    return (EndsWithNoCase(operand, ".exe") || EndsWithNoCase(operand, ".cab")) &&
           fs::is_regular_file(fs::u8path(operand), ignored);
}

// The package's own rule: its file name up to the last dot.
std::string SubfolderName(const std::string &package)
{
    const std::string name = fs::u8path(package).filename().u8string();
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Selection, overwrite policy, progress and counts for one package, from
// one run or from several workers.
class CExtractRun : public IExtractObserver, public IFolderObserver {
public:
    CExtractRun(ToolContext &context, const ExtractOptions &options, std::vector<bool> &patternUsed, Overwrite &policy)
        : m_Context(context), m_Options(options), m_PatternUsed(patternUsed), m_Policy(policy)
    {
    }

    // Counts what the selection takes, for the progress line.
    void Prepare(const std::vector<StoredFile> &files)
    {
        for (const StoredFile &file : files) {
            if (Selected(file.Name, false)) {
                m_Bytes += file.Size;
                ++m_Files;
            }
        }
        m_Bar = std::make_unique<CProgressBar>(m_Context, m_Options.Level != Verbosity::Quiet && !m_Options.ToStdout,
                                               m_Bytes, m_Files);
        m_Feed = std::make_unique<CSharedProgress>(*m_Bar);
    }

    bool OnFileStart(const StoredFile &file, const std::string &outPath) override
    {
        if (!Take(file, outPath)) {
            return false;
        }
        m_Current = file;
        m_Bar->StartFile(file.Name);
        return true;
    }
    void OnBytes(uint32_t written) override { m_Bar->FileBytes(written); }
    void OnFileDone(uint32_t, uint32_t) override
    {
        m_Bar->EndFile(m_Current.Size);
        ++m_Done;
        m_DoneBytes += m_Current.Size;
        if (m_Options.Level == Verbosity::Verbose && !m_Options.ToStdout) {
            m_Bar->Clear();
            m_Context.Out << PrintableText(m_Current.Name) << "\n";
        }
    }

    // From the workers: nothing is printed per file (-v runs on one thread).
    bool OnFileStart(size_t, const StoredFile &file, const std::string &outPath) override
    {
        if (!Take(file, outPath)) {
            return false;
        }
        m_Feed->Start(file.Name);
        return true;
    }
    void OnFileBytes(uint64_t more) override { m_Feed->Bytes(more); }
    void OnFileDone(size_t, const StoredFile &file, uint32_t, uint32_t) override
    {
        m_Feed->End();
        ++m_Done;
        m_DoneBytes += file.Size;
    }

    // A destination this run creates holds nothing to keep or replace: no
    // output needs a look first.
    void SetFreshDestination(bool fresh) { m_FreshDestination = fresh; }
    void Finish() { m_Bar->Clear(); }
    uint32_t Selected() const { return m_Files; }
    uint32_t Done() const { return m_Done; }
    uint64_t DoneBytes() const { return m_DoneBytes; }
    uint32_t Kept() const { return m_Kept; }
    double Seconds() const { return m_Bar->Seconds(); }
    bool OnTerminal() const { return m_Bar->Enabled(); }

private:
    // Whether a file is extracted: the selection, then the overwrite policy.
    bool Take(const StoredFile &file, const std::string &outPath)
    {
        if (!Selected(file.Name, true)) {
            return false;
        }
        if (!m_Options.ToStdout && !m_FreshDestination && Exists(outPath) && !Replace(outPath)) {
            ++m_Kept;
            m_Bar->SkipFile(file.Size);
            if (m_Options.Level == Verbosity::Verbose) {
                m_Bar->Clear();
                m_Context.Err << "selfex " << COMMAND << ": kept " << PrintableText(outPath) << "\n";
            }
            return false;
        }
        return true;
    }

    bool Selected(const std::string &name, bool mark)
    {
        if (m_Options.Patterns.empty()) {
            return true;
        }
        bool any = false;
        for (size_t i = 0; i < m_Options.Patterns.size(); ++i) {
            if (m_Options.Patterns[i].MatchesOrContains(name)) {
                any = true;
                if (mark) {
                    m_PatternUsed[i] = true;
                }
            }
        }
        return any;
    }

    static bool Exists(const std::string &path)
    {
        std::error_code ignored;
        return fs::exists(fs::symlink_status(fs::u8path(path), ignored));
    }

    bool Replace(const std::string &path)
    {
        if (m_Policy != Overwrite::Ask) {
            return m_Policy == Overwrite::Always;
        }
        m_Bar->Clear();
        for (;;) {
            m_Context.Err << "selfex " << COMMAND << ": replace " << PrintableText(path)
                          << "? [y]es, [n]o, [A]ll, [N]one: " << std::flush;
            std::string answer;
            if (m_Context.In == nullptr || !std::getline(*m_Context.In, answer)) {
                // Nobody to ask any more: keep this file and the rest.
                m_Context.Err << "\n";
                m_Policy = Overwrite::Never;
                return false;
            }
            if (answer == "y" || answer == "yes") {
                return true;
            }
            if (answer == "n" || answer == "no" || answer.empty()) {
                return false;
            }
            if (answer == "A") {
                m_Policy = Overwrite::Always;
                return true;
            }
            if (answer == "N") {
                m_Policy = Overwrite::Never;
                return false;
            }
        }
    }

    ToolContext &m_Context;
    const ExtractOptions &m_Options;
    std::vector<bool> &m_PatternUsed;
    Overwrite &m_Policy; // shared by the packages of one call: "All" and "None" hold for the rest
    std::unique_ptr<CProgressBar> m_Bar;
    std::unique_ptr<CSharedProgress> m_Feed;
    StoredFile m_Current;
    uint64_t m_Bytes = 0;
    uint32_t m_Files = 0;
    uint32_t m_Done = 0;
    uint64_t m_DoneBytes = 0;
    uint32_t m_Kept = 0;
    bool m_FreshDestination = false;
};

// The extractor refuses an output path longer than Windows creates when it
// comes to that file; checked for every file first, nothing is written.
bool FitOutputPaths(const std::string &destination, const std::vector<StoredFile> &files, std::string &error)
{
    std::error_code ignored;
    const WideString folder = ToPlatformPath(fs::absolute(fs::u8path(destination), ignored).u8string());
    const size_t length = folder.size() + (folder.empty() || folder.back() != WIDE('\\') ? 1 : 0);
    for (const StoredFile &file : files) {
        const Cabinet::NameRule rule = Cabinet::CheckOutputPath(length, Utf8ToWide(file.Name).c_str());
        if (rule != Cabinet::NameRule::Accepted) {
            error = "the stored name \"" + file.Name + "\" is refused below " + destination + ": " +
                    DescribeRefusedName(rule, file.Name);
            return false;
        }
    }
    return true;
}

// Usage problems first, so that nothing is read or written on a bad call.
int ParseOptions(const ParsedArgs &args, ToolContext &context, ExtractOptions &options)
{
    options.Packages.push_back(args.Operands[0]);
    std::vector<std::string> patterns = args.GetAll("filter");
    for (size_t i = 1; i < args.Operands.size(); ++i) {
        (IsPackageOperand(args.Operands[i]) ? options.Packages : patterns).push_back(args.Operands[i]);
    }
    for (const std::string &pattern : patterns) {
        options.Patterns.emplace_back(pattern);
    }
    options.Destination = args.Get("directory", ".");
    options.IntoSubfolder = args.Has("into-subfolder");
    options.ToStdout = args.Has("stdout");
    options.Level = VerbosityOf(args);
    options.Jobs = DefaultJobs();
    if (args.Has("jobs") && !ParseJobs(args.Get("jobs"), options.Jobs)) {
        return UsageError(context, COMMAND, "-j takes a number of workers from 1 to " + std::to_string(MAX_JOBS));
    }

    const int policies =
        (args.Has("overwrite") ? 1 : 0) + (args.Has("force") ? 1 : 0) + (args.Has("no-overwrite") ? 1 : 0);
    if (policies > 1) {
        return UsageError(context, COMMAND, "--overwrite, -f and -n exclude each other");
    }
    const std::string when = args.Get("overwrite");
    if (args.Has("force") || when == "always") {
        options.Policy = Overwrite::Always;
    } else if (args.Has("no-overwrite") || when == "never") {
        options.Policy = Overwrite::Never;
    } else if (when == "ask" || (!args.Has("overwrite") && context.InIsTerminal && context.ErrIsTerminal)) {
        options.Policy = Overwrite::Ask;
    } else if (args.Has("overwrite")) {
        return UsageError(context, COMMAND, "unknown --overwrite '" + when + "' (ask, always or never)");
    }
    if (options.ToStdout && (args.Has("directory") || options.IntoSubfolder || policies > 0)) {
        return UsageError(context, COMMAND, "--stdout writes no files: -d, -s and the overwrite options do not apply");
    }
    return EXIT_OK;
}

// Extracts one package; false after a failure it has reported.
bool ExtractPackage(ToolContext &context, const ExtractOptions &options, const std::string &path,
                    std::vector<bool> &patternUsed, Overwrite &policy)
{
    CPackageReader reader;
    std::string error;
    if (!reader.Open(path, error)) {
        Fail(context, COMMAND, error);
        return false;
    }
    if (reader.Continues()) {
        CCabinetTables tables;
        tables.ReadHeader(path, error);
        Fail(context, COMMAND, path + ": nothing extracted: " + FindSetStart(tables).Text);
        return false;
    }
    // Every name is checked before the first file is written: the listing
    // stops at the first name the extractor refuses.
    std::vector<StoredFile> files;
    if (!reader.List(files, error)) {
        Fail(context, COMMAND, path + ": nothing extracted: " + error);
        return false;
    }

    std::string destination = options.Destination;
    if (options.IntoSubfolder) {
        destination = (fs::u8path(destination) / fs::u8path(SubfolderName(path))).u8string();
    }
    if (!options.ToStdout && !FitOutputPaths(destination, files, error)) {
        Fail(context, COMMAND, path + ": nothing extracted: " + error);
        return false;
    }

    CExtractRun run(context, options, patternUsed, policy);
    run.Prepare(files);
    bool extracted;
    if (options.ToStdout) {
        if (context.MakeOutBinary) {
            context.Out.flush();
            context.MakeOutBinary();
        }
        reader.SetCrcWanted(false);
        extracted = reader.Test(run, error, &context.Out);
        context.Out.flush();
    } else {
        std::error_code ignored;
        run.SetFreshDestination(!fs::exists(fs::symlink_status(fs::u8path(destination), ignored)));
        // Questions and the per-file lines of -v keep to one thread, in order.
        std::vector<uint32_t> folderOfFile;
        uint32_t folders = 0;
        if (run.Selected() == 0) {
            extracted = true;
        } else if (options.Jobs > 1 && policy != Overwrite::Ask && options.Level != Verbosity::Verbose &&
                   PlanFolders(path, files.size(), folderOfFile, folders) && folders > 1) {
            FolderJob job;
            job.Path = path;
            job.Destination = destination;
            job.Workers = std::min(options.Jobs, folders);
            const FolderOutcome outcome = RunFolderWorkers(job, folderOfFile, folders, run);
            extracted = outcome.Ok;
            error = outcome.Error;
        } else {
            extracted = reader.Extract(destination, run, error);
        }
    }
    run.Finish();
    if (!extracted) {
        Fail(context, COMMAND,
             path + ": " + error + "; " + std::to_string(run.Done()) + " of " + std::to_string(run.Selected()) +
                 " files were extracted");
        return false;
    }
    if (options.ToStdout || options.Level == Verbosity::Quiet) {
        return true;
    }
    if (run.Kept() > 0) {
        Note(context, COMMAND,
             "kept " + std::to_string(run.Kept()) + (run.Kept() == 1 ? " file that exists" : " files that exist") +
                 " in " + destination + " (-f replaces them)");
    }
    if (run.OnTerminal() || options.Level == Verbosity::Verbose) {
        context.Err << "extracted " << run.Done() << (run.Done() == 1 ? " file (" : " files (")
                    << FormatBytes(run.DoneBytes()) << ") into " << PrintableText(destination) << " in "
                    << FormatDuration(run.Seconds()) << "\n";
    }
    return true;
}

} // namespace

int RunExtract(const ParsedArgs &args, ToolContext &context)
{
    ExtractOptions options;
    const int usage = ParseOptions(args, context, options);
    if (usage != EXIT_OK) {
        return usage;
    }
    std::vector<bool> patternUsed(options.Patterns.size(), false);
    Overwrite policy = options.Policy;
    bool failed = false;
    for (const std::string &package : options.Packages) {
        failed = !ExtractPackage(context, options, package, patternUsed, policy) || failed;
        if (IsInterrupted()) {
            return EXIT_FAILED;
        }
    }
    // After a failure, a pattern may have missed only what was not reached.
    bool unmatched = false;
    for (size_t i = 0; i < options.Patterns.size() && !failed; ++i) {
        if (!patternUsed[i]) {
            unmatched = true;
            Fail(context, COMMAND, "no stored file matches '" + options.Patterns[i].Text() + "'");
        }
    }
    return failed || unmatched ? EXIT_FAILED : EXIT_OK;
}

} // namespace Selfex
