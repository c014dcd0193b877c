// selfex --version: the tool's version, and the cabinet decoder that list,
// test and extract read packages with (libcabinet.so, or Windows'
// Cabinet.dll) with its file version.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "SelfexVersion.h"
#include "cabinet/SystemLibrary.h"
#include "platform/Win32.h"
#include "tools/Cli.h"
#include "tools/InstallLayout.h"
#include "tools/TextConv.h"

namespace Selfex {

namespace {

std::string ModulePath(HMODULE module)
{
    std::vector<WCHAR> path(MAX_PATH);
    DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return "(path unknown)";
    }
    return FromPlatformPath(path.data());
}

// "10.0.19041.1" from the two halves of a file version.
std::string FormatFileVersion(uint32_t high, uint32_t low)
{
    char text[48];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(high >> 16),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 16),
                  static_cast<unsigned>(low & 0xFFFF));
    return text;
}

#ifdef _WIN32
// Windows: the file version in the library's version resource, as the
// file's properties show it (Cabinet.dll's own DllGetVersion is no longer
// supported). Empty when the library has none.
std::string FileVersionOf(HMODULE module)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const BYTE *data = loaded != nullptr ? static_cast<const BYTE *>(LockResource(loaded)) : nullptr;
    if (data == nullptr) {
        return std::string();
    }
    // The fixed part follows the record's header and key, 32-bit aligned.
    const DWORD size = SizeofResource(module, found);
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        std::memcpy(&info, data + at, sizeof(info));
        if (info.dwSignature == 0xFEEF04BD) {
            return FormatFileVersion(info.dwFileVersionMS, info.dwFileVersionLS);
        }
    }
    return std::string();
}
#else
// POSIX: our library answers DllGetVersion as Cabinet.dll did.
std::string FileVersionOf(HMODULE module)
{
    // Through void (*)(void), the cast GCC accepts between function types.
    auto getVersion = reinterpret_cast<void (*)(PCABINETDLLVERSIONINFO)>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(module, "DllGetVersion")));
    if (getVersion == nullptr) {
        return std::string();
    }
    CABINETDLLVERSIONINFO info = {};
    info.cbStruct = sizeof(info);
    getVersion(&info);
    return FormatFileVersion(info.dwFileVersionMS, info.dwFileVersionLS);
}
#endif

} // namespace

int RunVersion(ToolContext &context)
{
    context.Out << "selfex " << SELFEX_VERSION << "\n";
    // The extractor's own load: on Windows from the system folder only.
    HMODULE library = Cabinet::LoadSystemLibrary(WIDE("Cabinet.dll"));
    if (library == nullptr) {
        context.Err << "selfex: the cabinet decompressor could not be loaded; " << DecoderLibrarySearchText() << "\n";
        return EXIT_FAILED;
    }
    std::string version = FileVersionOf(library);
    context.Out << "decoder: " << ModulePath(library) << " " << (version.empty() ? "(version unknown)" : version)
                << "\n";
    FreeLibrary(library);
    return EXIT_OK;
}

} // namespace Selfex
