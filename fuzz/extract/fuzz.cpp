// Fuzz target: Cabinet::CExtract::Copy, the whole extractor over our
// decompressor, in memory mode and to a folder on disk.
//
// The input is a package when it starts with "MZ" (the stub and its padding
// included), otherwise a cabinet that is put behind 160000 zero bytes as the
// packer would. The 8 bytes "\xFFNEXTCAB" split it in two: the second part
// becomes "s2.cab" beside the first, the name the built set seed's header
// gives its next cabinet. Files larger than 1 MiB are skipped to keep runs
// short.
//
// After each run, every file left in the output folder must have been
// reported complete (no partial file), and the work folder must hold
// nothing but the inputs and the output folder (nothing written outside).
// A breach aborts, which the fuzzer reports like a crash.
//
// Seeds: the test corpus (tests/corpus, read in place; MANIFEST.tsv gives
// each cabinet's origin), dirwalk-vulns.cab among them, and in corpus/ only
// what adds coverage to it, built-*: cabinets made with the test library's
// cabinet builder (the fdicopy target's seeds: stored and MSZIP folders,
// reserves, a set of two joined by the marker) and a package that "selfex
// pack" made of two small files behind a 12-byte stand-in stub ("MZ tiny
// stub"), padded to 160000.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "cabinet/Extract.h"

namespace {

namespace fs = std::filesystem;

constexpr uint8_t MARKER[8] = {0xFF, 'N', 'E', 'X', 'T', 'C', 'A', 'B'};
constexpr uint32_t LARGEST_FILE = 1 << 20;

void Fail(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "extract fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

// A host path as the extractor takes it: wide, "\" between levels.
void Wide(const std::string &utf8, CStrBufW &wide)
{
    wide.AssignMultiByte(CP_UTF8, utf8.c_str());
    wide.Replace(WIDE('/'), WIDE('\\'));
}

std::string Narrow(const WCHAR *wide)
{
    CStrBufA narrow;
    narrow.AssignUtf8(wide);
    std::string path = narrow.Data;
    for (char &c : path) {
        c = c == '\\' ? '/' : c;
    }
    return path;
}

void WritePackage(const fs::path &path, const uint8_t *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size < 2 || data[0] != 'M' || data[1] != 'Z') {
        const std::string padding(Cabinet::CABINET_SEARCH_START, '\0');
        out.write(padding.data(), static_cast<std::streamsize>(padding.size()));
    }
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
}

struct RunLog {
    std::set<std::string> Done; // host paths of the files reported complete
};

Cabinet::ExtractCallbacks Callbacks()
{
    Cabinet::ExtractCallbacks callbacks;
    callbacks.OnCopyFile = [](const Cabinet::CopyFileInfo *info, intptr_t) -> int {
        return info->Size <= LARGEST_FILE ? 1 : 0;
    };
    callbacks.OnFileDone = [](const WCHAR *outPath, const Cabinet::CMemSink *sink, intptr_t userData) {
        if (sink == nullptr) {
            reinterpret_cast<RunLog *>(userData)->Done.insert(Narrow(outPath));
        }
    };
    return callbacks;
}

// The folder of this process's runs; removed at exit.
const fs::path &WorkFolder()
{
    static const fs::path folder = [] {
        std::string pattern = (fs::temp_directory_path() / "selfex-fuzz-extract-XXXXXX").string();
        if (mkdtemp(&pattern[0]) == nullptr) {
            Fail("no work folder", pattern);
        }
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(WorkFolder(), ignored);
        });
        return fs::path(pattern);
    }();
    return folder;
}

void CheckLeftovers(const fs::path &work, const fs::path &out, const RunLog &log)
{
    for (const fs::directory_entry &entry : fs::directory_iterator(work)) {
        const std::string name = entry.path().filename().string();
        if (name != "pkg.exe" && name != "s2.cab" && name != "out") {
            Fail("written outside the destination:", entry.path().string());
        }
    }
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(out, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_directory() && !it->is_symlink() && log.Done.count(it->path().string()) == 0) {
            Fail("file left that was not reported complete:", it->path().string());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Cabinet::CExtract *extract = [] {
        auto *created = new Cabinet::CExtract;
        created->Callbacks = Callbacks();
        if (!created->Create()) {
            Fail("Create failed, code", std::to_string(created->Error.Code));
        }
        return created;
    }();
    const fs::path &work = WorkFolder();
    size_t first = size;
    for (size_t i = 0; i + sizeof MARKER <= size; ++i) {
        if (std::memcmp(data + i, MARKER, sizeof MARKER) == 0) {
            first = i;
            break;
        }
    }
    WritePackage(work / "pkg.exe", data, first);
    if (first < size) {
        WritePackage(work / "s2.cab", data + first + sizeof MARKER, size - first - sizeof MARKER);
    }
    CStrBufW package;
    Wide((work / "pkg.exe").string(), package);
    extract->Copy(package, CStrBufW(WIDE("memory")), 0);

    const fs::path out = work / "out";
    CStrBufW destination;
    Wide(out.string() + "/", destination);
    RunLog log;
    extract->Copy(package, destination, reinterpret_cast<intptr_t>(&log));
    CheckLeftovers(work, out, log);

    std::error_code ignored;
    fs::permissions(out, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(out, ignored); !ignored && it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(out, ignored);
    fs::remove(work / "s2.cab", ignored);
    return 0;
}
