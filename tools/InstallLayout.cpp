// Where the selfex tool finds its stubs, and where its decoder library is
// looked for.
#include "tools/InstallLayout.h"

#include <filesystem>

#include "platform/Win32.h"
#include "tools/TextConv.h"
#ifndef _WIN32
#include "platform/posix/LibrarySearch.h"
#endif

namespace fs = std::filesystem;

namespace Selfex {

namespace {

// "A", "A and B", "A, B and C".
std::string JoinAsList(const std::vector<std::string> &items)
{
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += i + 1 == items.size() ? " and " : ", ";
        }
        text += items[i];
    }
    return text;
}

} // namespace

std::string ShippedStubName(const std::string &arch)
{
    return "selfex-stub-" + arch + ".exe";
}

std::vector<std::string> ShippedStubCandidates(const std::string &executablePath, const std::string &arch)
{
    if (executablePath.empty()) {
        return {};
    }
    const fs::path prefix = fs::u8path(executablePath).parent_path().parent_path();
    const std::string name = ShippedStubName(arch);
    return {(prefix / "share" / "selfex" / name).generic_u8string(), (prefix / "stub" / name).generic_u8string()};
}

bool FindShippedStub(const std::string &executablePath, const std::string &arch, std::string &path, std::string &error)
{
    const std::vector<std::string> candidates = ShippedStubCandidates(executablePath, arch);
    for (const std::string &candidate : candidates) {
        std::error_code failure;
        if (fs::is_regular_file(fs::u8path(candidate), failure)) {
            path = candidate;
            return true;
        }
    }
    if (candidates.empty()) {
        error = "cannot find the shipped stub " + ShippedStubName(arch) +
                ": the location of this program is unknown; name a stub with --stub";
    } else {
        error = "cannot find the shipped stub: looked for " + JoinAsList(candidates) + "; name a stub with --stub";
    }
    return false;
}

std::string DecoderLibrarySearchText()
{
#ifdef _WIN32
    WCHAR folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    std::string system = length > 0 && length < MAX_PATH ? FromPlatformPath(folder) : "the system folder";
    return "looked for Cabinet.dll in " + system;
#else
    const std::vector<std::string> folders = Host::LibrarySearchFolders();
    if (folders.empty()) {
        return "looked for libcabinet.so nowhere: the location of this program is unknown";
    }
    return "looked for libcabinet.so in " + JoinAsList(folders);
#endif
}

} // namespace Selfex
