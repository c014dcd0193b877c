// Program entry of the package stub: records the package file, runs the
// folder dialog and, when the user confirmed a destination, the progress
// dialog that extracts the package. The exit code is always 0.
#include "platform/Win32.h"

#include "app/FolderDialog.h"
#include "app/FolderText.h"
#include "app/Globals.h"
#include "app/ProgressDialog.h"
#include "app/resource.h"

namespace {

// A package usually runs from a download folder, where anyone may have left
// a DLL named like one that this process loads (Cabinet.dll, or uxtheme.dll
// and friends pulled in by the common controls and the folder picker).
// Every later load is limited to the system directory before anything else
// runs.
void RestrictDllSearchToSystem()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI *)(DWORD);
    HMODULE kernel = GetModuleHandleW(WIDE("kernel32.dll"));
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    // Windows 7 without KB2533623 lacks the call; there at least the
    // current directory leaves the search.
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(WIDE(""));
    }

    // Some loaders still look beside the program for the imports of a system
    // DLL (Wine does for the common controls' uxtheme.dll), and the old
    // systems above for everything. A module already loaded is found by its
    // name before any search, so the usual victims are loaded now, by their
    // full path in the system directory.
    static const WCHAR *const PRELOADED[] = {WIDE("\\cabinet.dll"), WIDE("\\uxtheme.dll"), WIDE("\\dwmapi.dll"),
                                             WIDE("\\version.dll")};
    for (const WCHAR *name : PRELOADED) {
        WCHAR path[MAX_PATH] = {};
        UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length != 0 && length < MAX_PATH && AppendText(path, MAX_PATH, name)) {
            LoadLibraryW(path);
        }
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearchToSystem();

    // The package's own path and its base name, the caption of every
    // window; a path cut at MAX_PATH is still terminated.
    GetModuleFileNameW(nullptr, g_ModulePath, ARRAYSIZE(g_ModulePath));
    g_ModulePath[MAX_PATH - 1] = 0;
    PackageCaption(g_ModulePath, g_Caption, ARRAYSIZE(g_Caption));

    // The folder dialog leaves the destination in g_TargetDir; only a
    // confirmed one leads to the extraction.
    if (DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FOLDER), nullptr, FolderDlgProc, 0) == IDOK) {
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressDlgProc, 0);
    }
    // The exit code is 0 whatever happened: the dialogs told the user.
    return 0;
}
