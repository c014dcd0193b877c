// LoadSystemLibrary: the search flag first, the system directory's full
// path where the flag is unknown.
#include "cabinet/SystemLibrary.h"

#include "support/WideText.h"

namespace Cabinet {

HMODULE LoadSystemLibrary(const WCHAR *name, LoadLibraryExFn load)
{
    HMODULE module = load(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
#if defined(_WIN32)
    WCHAR path[MAX_PATH];
    const UINT folder = GetSystemDirectoryW(path, MAX_PATH);
    if (folder == 0 || folder >= MAX_PATH - 1) {
        return nullptr;
    }
    path[folder] = WIDE('\\');
    if (!WideCopy(path + folder + 1, MAX_PATH - folder - 1, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    // The DLL's own imports are looked for beside it, in the system folder.
    return load(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
#else
    return module;
#endif
}

} // namespace Cabinet
