// Creation of the destination folder with its missing parents.
#pragma once

#include "platform/Win32.h"

// Creates the folder path and any missing parents, top level first. True
// when the folder was created or existed at the first attempt; false on any
// other failure, and also when its parents had to be made and the path ends
// in a backslash (the folder exists then all the same). A path whose parent
// is itself (ending in "/", a bare drive, the empty text) or longer than
// MAX_PATH - 1 gives false once creation fails with ERROR_PATH_NOT_FOUND.
bool EnsureFolder(const WCHAR *path);
