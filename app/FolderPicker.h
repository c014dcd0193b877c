// The shell's folder picker as the folder dialog uses it.
#pragma once

#include <cstddef>

#include "platform/Win32.h"

#include <shlobj.h>

// Results of BrowseForFolder.
constexpr int BROWSE_PICKED = 1;
constexpr int BROWSE_CANCELLED = 2;

// Runs the classic modal folder picker (file-system folders only, the whole
// namespace from the desktop) owned by owner, with title as its instruction
// text and initial (a path, or null) preselected. Returns BROWSE_PICKED when
// a folder was picked: out then holds its path if that path is shorter than
// capacity characters; a longer path, or a folder without a file-system path,
// leaves out unchanged. Returns BROWSE_CANCELLED when the user cancelled.
// initial and out may be the same buffer.
int BrowseForFolder(HWND owner, const WCHAR *title, const WCHAR *initial, WCHAR *out, size_t capacity);

// The picker's callback: on BFFM_INITIALIZED selects the folder whose path
// text data points to, when data is not null. Always returns 0.
int CALLBACK BrowseCallback(HWND picker, UINT message, LPARAM lParam, LPARAM data);

// Releases an item identifier list that the shell returned, through the
// shell's allocator.
void FreeItemList(LPITEMIDLIST list);
