// Loading a system DLL from the system directory only, also on Windows
// versions whose LoadLibraryExW lacks LOAD_LIBRARY_SEARCH_SYSTEM32.
#pragma once

#include "platform/Win32.h"

namespace Cabinet {

using LoadLibraryExFn = decltype(&LoadLibraryExW);

// load (name, null, LOAD_LIBRARY_SEARCH_SYSTEM32). Where the flag is not
// supported (ERROR_INVALID_PARAMETER: Windows 7 without KB2533623), the
// full path GetSystemDirectoryW + "\" + name instead, never the bare name,
// which would search the application's folder first. Any other failure is
// final. POSIX: one call, as the platform layer knows no system directory.
// load is a seam for tests; the extractor passes LoadLibraryExW.
HMODULE LoadSystemLibrary(const WCHAR *name, LoadLibraryExFn load = &LoadLibraryExW);

} // namespace Cabinet
