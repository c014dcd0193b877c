// selfex pack: writes a package (stub, filler, cabinet) or a bare cabinet.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "tools/Cli.h"
#include "tools/FileIo.h"
#include "tools/InputScan.h"
#include "tools/InstallLayout.h"
#include "tools/ListFormat.h"
#include "tools/PackageLayout.h"
#include "tools/PrintableText.h"
#include "tools/ProgressBar.h"

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

// The files as the cabinet writer reads them, counted for the progress line.
class CProgressSource : public IMemberSource {
public:
    explicit CProgressSource(CProgressBar &bar) : m_Bar(bar) {}
    bool Open(const CabMember &member, std::string &error) override
    {
        m_Size = member.Size;
        m_Read = 0;
        m_Bar.StartFile(member.Name);
        return m_Files.Open(member, error);
    }
    int64_t Read(uint8_t *buffer, uint32_t size, std::string &error) override
    {
        const int64_t got = m_Files.Read(buffer, size, error);
        if (got > 0) {
            m_Read += static_cast<uint64_t>(got);
            m_Bar.FileBytes(m_Read);
        }
        return got;
    }
    void Close() override
    {
        m_Files.Close();
        m_Bar.EndFile(m_Size);
    }

private:
    CProgressBar &m_Bar;
    CFileMemberSource m_Files;
    uint64_t m_Size = 0;
    uint64_t m_Read = 0;
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

} // namespace

int RunPack(const ParsedArgs &args, ToolContext &context)
{
    std::string output = args.Get("output");
    if (output.empty()) {
        return UsageError(context, COMMAND, "no output given (-o OUT)");
    }
    CabOptions options;
    std::string method = args.Get("compression", "mszip");
    if (method == "none") {
        options.Method = Compression::None;
    } else if (method != "mszip") {
        return UsageError(context, COMMAND, "unknown compression '" + method + "' (none or mszip)");
    }
    if (args.Has("folder-size")) {
        uint64_t limit = ParseByteCount(args.Get("folder-size"));
        if (limit == 0 || limit > CAB_MAX_FOLDER_BYTES) {
            return UsageError(context, COMMAND,
                              "--folder-size wants a byte count from 1 to " + std::to_string(CAB_MAX_FOLDER_BYTES));
        }
        options.FolderLimit = static_cast<uint32_t>(limit);
    }
    ScanOptions scanOptions;
    if (!ParseLinks(args.Get("links", "skip"), scanOptions.Links)) {
        return UsageError(context, COMMAND, "unknown --links '" + args.Get("links") + "' (skip, follow or error)");
    }
    for (const std::string &pattern : args.GetAll("exclude")) {
        scanOptions.Excludes.emplace_back(pattern);
    }
    const std::string arch = args.Has("x64") ? "x64" : args.Get("arch", "x86");
    if (arch != "x86" && arch != "x64") {
        return UsageError(context, COMMAND, "unknown --arch '" + arch + "' (x86 or x64)");
    }
    if (args.Has("x64") && args.Has("arch") && args.Get("arch") != "x64") {
        return UsageError(context, COMMAND, "--x64 and --arch " + args.Get("arch") + " exclude each other");
    }
    if (args.Has("stub") && (args.Has("arch") || args.Has("x64"))) {
        return UsageError(context, COMMAND, "--stub and --arch (or --x64) exclude each other");
    }
    const Verbosity verbosity = VerbosityOf(args);
    std::error_code ignored;
    if (fs::is_directory(fs::u8path(output), ignored)) {
        return Fail(context, COMMAND, output + ": is a folder; -o names the package file to write");
    }
    bool bare = EndsWithNoCase(output, ".cab");
    if (bare && (args.Has("stub") || args.Has("arch") || args.Has("x64"))) {
        return UsageError(context, COMMAND, "a .cab output has no stub: --stub, --arch and --x64 do not apply");
    }

    // 1. What to store; nothing is written while anything is wrong.
    ScanResult scan;
    ScanInputs(args.Operands, output, scanOptions, scan);
    if (!ReportScan(context, scan, verbosity)) {
        return EXIT_FAILED;
    }
    std::string error;
    if (!CheckCabMembers(scan.Members, options, error)) {
        return Fail(context, COMMAND, error);
    }

    // 2. The stub, checked against the package layout.
    std::vector<uint8_t> stub;
    if (!bare) {
        std::string stubPath = args.Get("stub");
        if (!args.Has("stub") && !FindShippedStub(context.ExecutablePath, arch, stubPath, error)) {
            return Fail(context, COMMAND, error);
        }
        if (!ReadSmallFile(stubPath, MAX_STUB_READ, stub, error)) {
            return Fail(context, COMMAND, "cannot read the stub: " + error);
        }
        std::string problem = StubProblem(stub.data(), stub.size());
        if (!problem.empty()) {
            return Fail(context, COMMAND, stubPath + ": " + problem);
        }
    }
    uint32_t cabinetOffset = bare ? 0 : CabinetOffsetBehind(stub.size());

    // 3. Stub, filler and cabinet into a temporary file.
    COutputFile file;
    if (!file.Create(output, error) || (!bare && !WriteStub(file, stub, error))) {
        return Fail(context, COMMAND, error);
    }
    // A bare cabinet too is read behind 160000 bytes, by selfex and in any package it goes into.
    options.MaxCabinetBytes = MAX_PACKAGE_BYTES - CabinetOffsetBehind(stub.size());
    options.SetId = SetIdFor(scan.Members);
    uint64_t totalBytes = 0;
    for (const CabMember &member : scan.Members) {
        totalBytes += member.Size;
    }
    CProgressBar bar(context, verbosity != Verbosity::Quiet, totalBytes, static_cast<uint32_t>(scan.Members.size()));
    CProgressSource source(bar);
    CCabFileSink sink(file, cabinetOffset);
    CabSummary summary;
    const bool written = WriteCabinet(scan.Members, options, source, sink, summary, error);
    bar.Clear();
    if (!written) {
        return Fail(context, COMMAND, error);
    }

    // 4. Checked as the stub will see it, then put in place.
    if ((!bare && !VerifyPackage(file, cabinetOffset, error)) || !file.Commit(error)) {
        return Fail(context, COMMAND, error);
    }

    if (verbosity == Verbosity::Verbose) {
        for (const CabMember &member : scan.Members) {
            context.Out << PrintableText(member.Name) << "\n";
        }
    }
    if (verbosity == Verbosity::Quiet) {
        return EXIT_OK;
    }
    context.Out << PrintableText(output) << ": " << summary.Files << (summary.Files == 1 ? " file, " : " files, ")
                << summary.UncompressedBytes << " bytes in " << summary.Folders
                << (summary.Folders == 1 ? " folder" : " folders") << " ("
                << (options.Method == Compression::Mszip ? "MSZIP" : "stored") << "), cabinet of "
                << summary.CabinetBytes << " bytes";
    if (!bare) {
        context.Out << " at offset " << cabinetOffset;
    }
    context.Out << " (" << FormatRatio(summary.CabinetBytes, summary.UncompressedBytes) << ")";
    if (bar.Enabled()) {
        context.Out << " in " << FormatDuration(bar.Seconds());
    }
    context.Out << "\n";
    return EXIT_OK;
}

} // namespace Selfex
