// Shared libraries in place of DLLs: LoadLibraryW, LoadLibraryExW,
// GetProcAddress, FreeLibrary, GetModuleFileNameW.
//
// Name rule: a bare name "X.dll" (any letter case; "X" alone means "X.dll")
// stands for the shared library "libx.so", with X in lower case. A name
// with a folder part or another extension names no library here.
// Search rule (LibrarySearchFolders): the folder named by the environment
// variable SELFEX_LIBRARY_PATH when it is set and not empty; otherwise the
// running executable's folder, then "../lib/selfex" and "../lib" beside it.
// Nothing else is searched (no LD_LIBRARY_PATH, no system folders), so a
// library that is not in those places is missing: ERROR_MOD_NOT_FOUND. A
// file that is found but does not load gives ERROR_BAD_EXE_FORMAT.
// LoadLibraryExW's flags do not change the search.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/posix/HostBridge.h"
#include "platform/posix/LibrarySearch.h"

namespace {

std::mutex g_ModuleLock;

// Live module handles and how many loads each still holds; built on first use.
std::unordered_map<void *, int> &LoadedModules()
{
    static std::unordered_map<void *, int> modules;
    return modules;
}

bool IsLoadedModule(HMODULE module)
{
    std::lock_guard<std::mutex> lock(g_ModuleLock);
    return LoadedModules().count(module) != 0;
}

// "Cabinet.dll" -> "libcabinet.so"; false when the name fits no library.
bool LibraryFileName(LPCWSTR name, std::string &fileName)
{
    std::u16string text(name);
    if (text.find_first_of(u"\\/:") != std::u16string::npos) {
        return false;
    }
    if (!text.empty() && text.back() == u'.') {
        text.pop_back(); // a trailing dot means "no extension" to Windows
    } else if (text.find(u'.') == std::u16string::npos) {
        text += u".dll";
    }
    const size_t dot = text.rfind(u'.');
    if (dot == 0 || dot == std::u16string::npos || text.size() - dot != 4) {
        return false;
    }
    for (char16_t &ch : text) {
        if (ch >= u'A' && ch <= u'Z') {
            ch = static_cast<char16_t>(ch - u'A' + u'a');
        }
    }
    if (text.compare(dot, 4, u".dll") != 0) {
        return false;
    }
    std::string base;
    if (!Host::Utf16ToUtf8(text.data(), dot, true, base)) {
        return false;
    }
    fileName = "lib" + base + ".so";
    return true;
}

} // namespace

namespace Host {

std::vector<std::string> LibrarySearchFolders()
{
    const char *configured = std::getenv("SELFEX_LIBRARY_PATH");
    if (configured != nullptr && *configured != 0) {
        return {configured};
    }
    // The executable's path has no symbolic links or "." levels left
    // (/proc/self/exe), so cutting at slashes finds its real parent.
    const std::string executable = ExecutablePath();
    const size_t slash = executable.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    const std::string folder = executable.substr(0, slash);
    const std::string parent = folder.substr(0, folder.rfind('/'));
    return {folder, parent + "/lib/selfex", parent + "/lib"};
}

} // namespace Host

HMODULE LoadLibraryW(LPCWSTR name)
{
    std::string fileName;
    if (name == nullptr || !LibraryFileName(name, fileName)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    for (const std::string &folder : Host::LibrarySearchFolders()) {
        const std::string candidate = folder + "/" + fileName;
        if (access(candidate.c_str(), F_OK) != 0) {
            continue;
        }
        void *module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            SetLastError(ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(g_ModuleLock);
        ++LoadedModules()[module];
        return static_cast<HMODULE>(module);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HMODULE LoadLibraryExW(LPCWSTR name, HANDLE reserved, DWORD flags)
{
    return LoadLibraryW(name);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    // Names below 0x10000 are ordinals, which shared libraries do not have.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (module != nullptr && !IsLoadedModule(module)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // A null module is the program itself, as on Windows.
    void *self = module == nullptr ? dlopen(nullptr, RTLD_NOW) : nullptr;
    void *symbol = dlsym(module != nullptr ? static_cast<void *>(module) : self, name);
    if (self != nullptr) {
        dlclose(self);
    }
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    {
        std::lock_guard<std::mutex> lock(g_ModuleLock);
        auto found = LoadedModules().find(module);
        if (found == LoadedModules().end()) {
            return Host::Fail(ERROR_INVALID_HANDLE);
        }
        if (--found->second == 0) {
            LoadedModules().erase(found);
        }
    }
    dlclose(module);
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    std::string hostPath;
    if (module == nullptr) {
        hostPath = Host::ExecutablePath();
    } else if (IsLoadedModule(module)) {
        struct link_map *map = nullptr;
        if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
            hostPath = map->l_name;
        }
    }
    if (hostPath.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::u16string path = Host::FromHostPath(hostPath);
    if (size > path.size()) {
        return Host::CopyOutText(path, buffer, size);
    }
    // Too small: the leading size - 1 characters, terminated (Windows Vista
    // and later; XP and Wine leave the terminator out).
    if (size > 0) {
        path.copy(buffer, size - 1);
        buffer[size - 1] = 0;
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}
