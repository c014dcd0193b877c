// Creation of the destination folder with its missing parents (see EnsureFolder.h).
#include "app/EnsureFolder.h"

#include "app/FolderText.h"
#include "support/WideText.h"

bool EnsureFolder(const WCHAR *path)
{
    // The folder itself first: made now, or there already.
    if (CreateDirectoryW(path, nullptr)) {
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        return true;
    }
    if (error != ERROR_PATH_NOT_FOUND) {
        return false;
    }

    // A missing parent is made first. The climb ends where the parent is the path itself ("C:", "x/",
    // the empty text), and where the path is too long to create anyway.
    WCHAR parent[MAX_PATH] = {};
    if (!ParentFolder(path, parent, ARRAYSIZE(parent)) || WideCompare(parent, path) == 0) {
        return false;
    }

    // Parents first, then this folder again. For a path ending in a backslash the parent is the folder
    // itself, so this last attempt then fails with ERROR_ALREADY_EXISTS;
    // the run ignores the result.
    if (!EnsureFolder(parent)) {
        return false;
    }
    return CreateDirectoryW(path, nullptr) != FALSE;
}
