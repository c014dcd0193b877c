// selfex pack: writes a package (stub, filler, cabinet) or a bare cabinet.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "tools/Cli.h"
#include "tools/FileIo.h"
#include "tools/InputScan.h"
#include "tools/InstallLayout.h"
#include "tools/ListFormat.h"
#include "tools/PackageLayout.h"
#include "tools/PrintableText.h"
#include "tools/FolderWorkers.h"
#include "tools/ProgressBar.h"
#include "tools/pe/AuthorOptions.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

const char COMMAND[] = "pack";
constexpr size_t MAX_PROBLEMS_SHOWN = 20;
constexpr size_t MAX_NOTES_SHOWN = 20;             // -v shows them all
constexpr uint64_t MAX_STUB_READ = 64u << 20;      // enough to say how long a wrong stub is
constexpr uint32_t MAX_PACKAGE_BYTES = 0x7FFFFFFF; // the stub's file positions are signed 32-bit

// "123", "64K", "1M", "2G" (binary multiples); 0 when not a number in range.
uint64_t ParseByteCount(const std::string &text)
{
    uint64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < (1ull << 40); ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (i == 0 || value >= (1ull << 40)) {
        return 0;
    }
    std::string suffix = text.substr(i);
    if (suffix.empty()) {
        return value;
    }
    if (suffix == "K" || suffix == "k") {
        return value << 10;
    }
    if (suffix == "M" || suffix == "m") {
        return value << 20;
    }
    if (suffix == "G" || suffix == "g") {
        return value << 30;
    }
    return 0;
}

// A set identifier that differs between packages but not between runs.
uint16_t SetIdFor(const std::vector<CabMember> &members)
{
    uint32_t hash = 2166136261u; // FNV-1a
    for (const CabMember &member : members) {
        for (char c : member.Name + '\0' + std::to_string(member.Size)) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        }
    }
    return static_cast<uint16_t>(hash ^ hash >> 16);
}

// The method, LZX window and level from --compression (none, mszip, lzx,
// lzx:15 ... lzx:21), --level and --best; false with a message when they
// make no sense.
bool ParseCompression(const ParsedArgs &args, CabOptions &options, std::string &problem)
{
    std::string method = args.Get("compression", "mszip");
    bool twoDigits = method.size() == 6 && std::isdigit(static_cast<unsigned char>(method[4])) &&
                     std::isdigit(static_cast<unsigned char>(method[5]));
    if (method == "none") {
        options.Method = Compression::None;
    } else if (method == "lzx" || (method.compare(0, 4, "lzx:") == 0 && twoDigits)) {
        options.Method = Compression::Lzx;
        if (method != "lzx") {
            options.LzxWindowBits = static_cast<unsigned>(std::stoi(method.substr(4)));
        }
        if (options.LzxWindowBits < LZX_MIN_WINDOW_BITS || options.LzxWindowBits > LZX_MAX_WINDOW_BITS) {
            problem = "LZX windows run from lzx:15 to lzx:21";
            return false;
        }
    } else if (method != "mszip") {
        problem = "unknown compression '" + method + "' (none, mszip, lzx or lzx:15 ... lzx:21)";
        return false;
    }
    if (!args.Has("level") && !args.Has("best")) {
        return true;
    }
    if (options.Method != Compression::Lzx) {
        problem = "--level and --best apply to LZX compression only";
        return false;
    }
    std::string level = args.Get("level");
    unsigned value = level.size() == 1 && std::isdigit(static_cast<unsigned char>(level[0]))
                         ? static_cast<unsigned>(level[0] - '0')
                         : 0;
    if (args.Has("level") && (value < LZX_MIN_LEVEL || value > LZX_MAX_LEVEL)) {
        problem = "--level wants " + std::to_string(LZX_MIN_LEVEL) + " to " + std::to_string(LZX_MAX_LEVEL);
        return false;
    }
    options.LzxLevel = args.Has("best") ? LZX_MAX_LEVEL : value;
    return true;
}

std::string MethodName(const CabOptions &options)
{
    switch (options.Method) {
    case Compression::Mszip: return "MSZIP";
    case Compression::Lzx: return "LZX:" + std::to_string(options.LzxWindowBits);
    default: return "stored";
    }
}

bool ReportScan(ToolContext &context, const ScanResult &scan, Verbosity verbosity)
{
    const size_t shown = verbosity == Verbosity::Verbose ? scan.Notes.size()
                         : verbosity == Verbosity::Quiet ? 0
                                                         : std::min(scan.Notes.size(), MAX_NOTES_SHOWN);
    for (size_t i = 0; i < shown; ++i) {
        Note(context, COMMAND, scan.Notes[i]);
    }
    if (shown < scan.Notes.size() && verbosity != Verbosity::Quiet) {
        Note(context, COMMAND, "... and " + std::to_string(scan.Notes.size() - shown) + " more (-v shows them all)");
    }
    if (verbosity == Verbosity::Verbose) {
        for (const std::string &name : scan.Excluded) {
            Note(context, COMMAND, name + ": left out by --exclude");
        }
    }
    for (size_t i = 0; i < scan.Problems.size() && i < MAX_PROBLEMS_SHOWN; ++i) {
        context.Err << "selfex " << COMMAND << ": " << PrintableText(scan.Problems[i]) << "\n";
    }
    if (scan.Problems.size() > MAX_PROBLEMS_SHOWN) {
        context.Err << "selfex " << COMMAND << ": ... and " << scan.Problems.size() - MAX_PROBLEMS_SHOWN
                    << " more problems\n";
    }
    return scan.Problems.empty();
}

// Writes the stub and the zero filler that carries the cabinet to offset 160000.
bool WriteStub(COutputFile &file, const std::vector<uint8_t> &stub, std::string &error)
{
    if (!file.Write(stub.data(), stub.size(), error)) {
        return false;
    }
    std::vector<uint8_t> filler(CabinetOffsetBehind(stub.size()) - stub.size(), 0);
    return file.Write(filler.data(), filler.size(), error);
}

// Searches the finished file for its cabinet the way the stub does.
bool VerifyPackage(COutputFile &file, uint32_t cabinetOffset, std::string &error)
{
    std::vector<uint8_t> window(PACKAGE_SEARCH_WINDOW, 0);
    int64_t got = file.ReadAt(PACKAGE_SEARCH_START, window.data(), PACKAGE_SEARCH_WINDOW, error);
    if (got < 0) {
        return false;
    }
    int32_t found = FindCabinetHeader(window.data(), static_cast<size_t>(got));
    if (found < 0 || static_cast<uint32_t>(found) + PACKAGE_SEARCH_START != cabinetOffset) {
        error = "the finished package does not show its cabinet where the stub looks (expected offset " +
                std::to_string(cabinetOffset) + ")";
        return false;
    }
    return true;
}

// The progress line of one pack, fed by the sources of every worker.
struct SharedProgress {
    explicit SharedProgress(CProgressBar &bar) : Feed(bar) {}
    std::mutex Lock;
    CSharedProgress Feed;
};

// The files as the cabinet writer reads them, counted for the progress line.
class CProgressSource : public IMemberSource {
public:
    explicit CProgressSource(std::shared_ptr<SharedProgress> progress) : m_Progress(std::move(progress)) {}
    bool Open(const CabMember &member, std::string &error) override
    {
        {
            std::lock_guard<std::mutex> guard(m_Progress->Lock);
            m_Progress->Feed.Start(member.Name);
        }
        return m_Files.Open(member, error);
    }
    int64_t Read(uint8_t *buffer, uint32_t size, std::string &error) override
    {
        const int64_t got = m_Files.Read(buffer, size, error);
        if (got > 0) {
            std::lock_guard<std::mutex> guard(m_Progress->Lock);
            m_Progress->Feed.Bytes(static_cast<uint64_t>(got));
        }
        return got;
    }
    void Close() override
    {
        m_Files.Close();
        std::lock_guard<std::mutex> guard(m_Progress->Lock);
        m_Progress->Feed.End();
    }
    std::unique_ptr<IMemberSource> Fork() override { return std::make_unique<CProgressSource>(m_Progress); }

private:
    std::shared_ptr<SharedProgress> m_Progress;
    CFileMemberSource m_Files;
};

bool ParseLinks(const std::string &text, LinkPolicy &links)
{
    if (text == "skip") {
        links = LinkPolicy::Skip;
    } else if (text == "follow") {
        links = LinkPolicy::Follow;
    } else if (text == "error") {
        links = LinkPolicy::Error;
    } else {
        return false;
    }
    return true;
}

struct PackOptions {
    std::string Output;
    bool Bare = false; // a .cab output: no stub
    std::string Stub;  // --stub, or empty for a shipped one
    std::string Arch;  // the shipped stub's: x86 or x64
    CabOptions Cabinet;
    ScanOptions Scan;
    Verbosity Level = Verbosity::Normal;
};

constexpr uint32_t DEFAULT_FOLDER_BYTES = 32u << 20;

// Usage problems first, so that nothing is read or written on a bad call.
int ParsePackOptions(const ParsedArgs &args, ToolContext &context, PackOptions &pack)
{
    pack.Output = args.Get("output");
    if (pack.Output.empty()) {
        return UsageError(context, COMMAND, "no output given (-o OUT)");
    }
    std::string badCompression;
    if (!ParseCompression(args, pack.Cabinet, badCompression)) {
        return UsageError(context, COMMAND, badCompression);
    }
    // Folders of 32 MiB let extract and test decode a large package on
    // several threads; measured on binaries, LZX:21 output grows by 0.8 %
    // (2.3 % at 8 MiB) and MSZIP's by nothing worth a mention.
    pack.Cabinet.FolderLimit = DEFAULT_FOLDER_BYTES;
    pack.Cabinet.Jobs = DefaultJobs();
    if (args.Has("jobs") && !ParseJobs(args.Get("jobs"), pack.Cabinet.Jobs)) {
        return UsageError(context, COMMAND, "-j takes a number of workers from 1 to " + std::to_string(MAX_JOBS));
    }
    if (args.Has("folder-size")) {
        uint64_t limit = ParseByteCount(args.Get("folder-size"));
        if (limit == 0 || limit > CAB_MAX_FOLDER_BYTES) {
            return UsageError(context, COMMAND,
                              "--folder-size wants a byte count from 1 to " + std::to_string(CAB_MAX_FOLDER_BYTES));
        }
        pack.Cabinet.FolderLimit = static_cast<uint32_t>(limit);
    }
    if (!ParseLinks(args.Get("links", "skip"), pack.Scan.Links)) {
        return UsageError(context, COMMAND, "unknown --links '" + args.Get("links") + "' (skip, follow or error)");
    }
    for (const std::string &pattern : args.GetAll("exclude")) {
        pack.Scan.Excludes.emplace_back(pattern);
    }
    pack.Arch = args.Has("x64") ? "x64" : args.Get("arch", "x86");
    if (pack.Arch != "x86" && pack.Arch != "x64") {
        return UsageError(context, COMMAND, "unknown --arch '" + pack.Arch + "' (x86 or x64)");
    }
    if (args.Has("x64") && args.Has("arch") && args.Get("arch") != "x64") {
        return UsageError(context, COMMAND, "--x64 and --arch " + args.Get("arch") + " exclude each other");
    }
    pack.Stub = args.Get("stub");
    const bool stubChosen = args.Has("arch") || args.Has("x64");
    if (args.Has("stub") && stubChosen) {
        return UsageError(context, COMMAND, "--stub and --arch (or --x64) exclude each other");
    }
    pack.Bare = EndsWithNoCase(pack.Output, ".cab");
    if (pack.Bare && (args.Has("stub") || stubChosen || HasAuthorOptions(args))) {
        return UsageError(context, COMMAND,
                          "a .cab output has no stub: --stub, --arch, --x64, --icon and --version-info do not apply");
    }
    pack.Level = VerbosityOf(args);
    return EXIT_OK;
}

// Writes stub, filler and cabinet into a temporary file, with progress on a
// terminal (seconds: how long it took, when it was shown), checks it as
// the stub will see it and puts it in place.
bool WritePackage(ToolContext &context, const PackOptions &pack, const std::vector<CabMember> &members,
                  const std::vector<uint8_t> &stub, CabSummary &summary, double &seconds, std::string &error)
{
    const uint32_t cabinetOffset = pack.Bare ? 0 : CabinetOffsetBehind(stub.size());
    COutputFile file;
    if (!file.Create(pack.Output, error) || (!pack.Bare && !WriteStub(file, stub, error))) {
        return false;
    }
    CabOptions options = pack.Cabinet;
    // A bare cabinet too is read behind 160000 bytes, by selfex and in any package it goes into.
    options.MaxCabinetBytes = MAX_PACKAGE_BYTES - CabinetOffsetBehind(stub.size());
    options.SetId = SetIdFor(members);
    uint64_t totalBytes = 0;
    for (const CabMember &member : members) {
        totalBytes += member.Size;
    }
    CProgressBar bar(context, pack.Level != Verbosity::Quiet, totalBytes, static_cast<uint32_t>(members.size()));
    CProgressSource source(std::make_shared<SharedProgress>(bar));
    CCabFileSink sink(file, cabinetOffset);
    const bool written = WriteCabinet(members, options, source, sink, summary, error);
    bar.Clear();
    if (bar.Enabled()) {
        seconds = bar.Seconds();
    }
    return written && (pack.Bare || VerifyPackage(file, cabinetOffset, error)) && file.Commit(error);
}

// "3 files, 1234 bytes in 1 folder (MSZIP), cabinet of 456 bytes at offset 160000 (37.0 %)".
std::string Summary(const PackOptions &pack, const CabSummary &summary, uint32_t cabinetOffset)
{
    std::string text = std::to_string(summary.Files) + (summary.Files == 1 ? " file, " : " files, ") +
                       std::to_string(summary.UncompressedBytes) + " bytes in " + std::to_string(summary.Folders) +
                       (summary.Folders == 1 ? " folder" : " folders") + " (" + MethodName(pack.Cabinet) +
                       "), cabinet of " + std::to_string(summary.CabinetBytes) + " bytes";
    if (!pack.Bare) {
        text += " at offset " + std::to_string(cabinetOffset);
    }
    return text + " (" + FormatRatio(summary.CabinetBytes, summary.UncompressedBytes) + ")";
}

} // namespace

int RunPack(const ParsedArgs &args, ToolContext &context)
{
    PackOptions pack;
    const int usage = ParsePackOptions(args, context, pack);
    if (usage != EXIT_OK) {
        return usage;
    }
    std::error_code ignored;
    if (fs::is_directory(fs::u8path(pack.Output), ignored)) {
        return Fail(context, COMMAND, pack.Output + ": is a folder; -o names the package file to write");
    }

    // 1. What to store; nothing is written while anything is wrong.
    ScanResult scan;
    ScanInputs(args.Operands, pack.Output, pack.Scan, scan);
    if (!ReportScan(context, scan, pack.Level)) {
        return EXIT_FAILED;
    }
    std::string error;
    if (!CheckCabMembers(scan.Members, pack.Cabinet, error)) {
        return Fail(context, COMMAND, error);
    }

    // 2. The stub, checked against the package layout.
    std::vector<uint8_t> stub;
    if (!pack.Bare) {
        std::string stubPath = pack.Stub;
        if (stubPath.empty() && !FindShippedStub(context.ExecutablePath, pack.Arch, stubPath, error)) {
            return Fail(context, COMMAND, error);
        }
        if (!ReadSmallFile(stubPath, MAX_STUB_READ, stub, error)) {
            return Fail(context, COMMAND, "cannot read the stub: " + error);
        }
        const int authored = ApplyAuthorOptions(args, context, stubPath, stub);
        if (authored != EXIT_OK) {
            return authored;
        }
        std::string problem = StubProblem(stub.data(), stub.size());
        if (!problem.empty()) {
            return Fail(context, COMMAND, stubPath + ": " + problem);
        }
    }

    // 3. and 4. Written to a temporary file, checked, put in place.
    CabSummary summary;
    double seconds = -1;
    if (!WritePackage(context, pack, scan.Members, stub, summary, seconds, error)) {
        return Fail(context, COMMAND, error);
    }
    if (pack.Level == Verbosity::Verbose) {
        for (const CabMember &member : scan.Members) {
            context.Out << PrintableText(member.Name) << "\n";
        }
    }
    if (pack.Level != Verbosity::Quiet) {
        context.Out << PrintableText(pack.Output) << ": " << Summary(pack, summary, CabinetOffsetBehind(stub.size()));
        if (seconds >= 0) {
            context.Out << " in " << FormatDuration(seconds);
        }
        context.Out << "\n";
    }
    return EXIT_OK;
}

} // namespace Selfex
