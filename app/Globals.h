// Program-wide state of the stub's front end, shared by the program entry,
// the two dialogs and the extraction run. Only the one thread touches it.
#pragma once

#include <cstddef>

#include "platform/Win32.h"

// Room of g_TargetDir: a folder text read from the dialog (259 characters),
// a backslash, the caption (255), a backslash and the terminator fit.
constexpr size_t TARGET_DIR_CAPACITY = 520;

// Room of a text loaded from the string table, and of the formatted question.
constexpr size_t STRING_CAPACITY = 1024;

// Full path of the running package file (written by WinMain).
extern WCHAR g_ModulePath[MAX_PATH];

// Base name of the package file without extension: the caption of the folder
// dialog and of every message box, and the subfolder that OK appends.
extern WCHAR g_Caption[MAX_PATH];

// Destination of the run, written by the folder dialog on OK (then ending in
// "\" or "/"); also the folder picker's scratch buffer.
extern WCHAR g_TargetDir[TARGET_DIR_CAPACITY];

// Status text and progress bar of the progress dialog, set when the run
// starts and never cleared; null before.
extern HWND g_StatusWnd;
extern HWND g_ProgressWnd;
