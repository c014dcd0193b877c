// selfex pack: writes a package (stub, filler, cabinet) or a bare cabinet.
#include <cstring>
#include <filesystem>

#include "tools/Cli.h"
#include "tools/FileIo.h"
#include "tools/InputScan.h"
#include "tools/InstallLayout.h"
#include "tools/PackageLayout.h"
#include "tools/PrintableText.h"
#include "tools/pe/AuthorOptions.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

const char COMMAND[] = "pack";
constexpr size_t MAX_PROBLEMS_SHOWN = 20;
constexpr uint64_t MAX_STUB_READ = 64u << 20;      // enough to say how long a wrong stub is
constexpr uint32_t MAX_PACKAGE_BYTES = 0x7FFFFFFF; // the stub's file positions are signed 32-bit

bool EndsWithNoCase(const std::string &text, const char *suffix)
{
    size_t length = std::strlen(suffix);
    if (text.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        char c = text[text.size() - length + i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != suffix[i]) {
            return false;
        }
    }
    return true;
}

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

bool ReportScan(ToolContext &context, const ScanResult &scan)
{
    for (const std::string &note : scan.Notes) {
        context.Err << "selfex " << COMMAND << ": note: " << PrintableText(note) << "\n";
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
    std::error_code ignored;
    if (fs::is_directory(fs::u8path(output), ignored)) {
        return Fail(context, COMMAND, output + ": is a folder; -o names the package file to write");
    }
    bool bare = EndsWithNoCase(output, ".cab");
    if (bare && (args.Has("stub") || HasAuthorOptions(args))) {
        return UsageError(context, COMMAND, "--stub, --icon and --version-info need a package, not a .cab output");
    }

    // 1. What to store; nothing is written while anything is wrong.
    ScanResult scan;
    ScanInputs(args.Operands, output, scan);
    if (!ReportScan(context, scan)) {
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
        if (!args.Has("stub") && !FindShippedStub(context.ExecutablePath, stubPath, error)) {
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
    uint32_t cabinetOffset = bare ? 0 : CabinetOffsetBehind(stub.size());

    // 3. Stub, filler and cabinet into a temporary file.
    COutputFile file;
    if (!file.Create(output, error) || (!bare && !WriteStub(file, stub, error))) {
        return Fail(context, COMMAND, error);
    }
    // A bare cabinet too is read behind 160000 bytes, by selfex and in any package it goes into.
    options.MaxCabinetBytes = MAX_PACKAGE_BYTES - CabinetOffsetBehind(stub.size());
    options.SetId = SetIdFor(scan.Members);
    CFileMemberSource source;
    CCabFileSink sink(file, cabinetOffset);
    CabSummary summary;
    if (!WriteCabinet(scan.Members, options, source, sink, summary, error)) {
        return Fail(context, COMMAND, error);
    }

    // 4. Checked as the stub will see it, then put in place.
    if ((!bare && !VerifyPackage(file, cabinetOffset, error)) || !file.Commit(error)) {
        return Fail(context, COMMAND, error);
    }

    context.Out << PrintableText(output) << ": " << summary.Files << (summary.Files == 1 ? " file, " : " files, ")
                << summary.UncompressedBytes << " bytes in " << summary.Folders
                << (summary.Folders == 1 ? " folder" : " folders") << " ("
                << (options.Method == Compression::Mszip ? "MSZIP" : "stored") << "), cabinet of "
                << summary.CabinetBytes << " bytes";
    if (!bare) {
        context.Out << " at offset " << cabinetOffset;
    }
    context.Out << "\n";
    return EXIT_OK;
}

} // namespace Selfex
