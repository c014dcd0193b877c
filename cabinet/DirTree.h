// Creation of the directory levels an output file needs.
#pragma once

#include "platform/Win32.h"

namespace Cabinet {

// Creates path (a backslash-separated directory path, with or without a
// trailing backslash) and every missing level above it, top level first.
// Returns 0 on success, which includes levels that already exist (also when
// an existing entry is a file: the failure then shows one level lower or at
// the open). Otherwise the platform error of the level that failed, or
// ERROR_INVALID_DRIVE (15) when the missing top level has no parent left,
// as for a drive that does not exist.
DWORD MakeDirTree(const WCHAR *path);

} // namespace Cabinet
