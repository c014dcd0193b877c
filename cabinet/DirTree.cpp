// MakeDirTree: recursive creation of directory levels.
#include "cabinet/DirTree.h"

#include "support/PathUtil.h"
#include "support/StrBuf.h"
#include "support/WideText.h"

namespace Cabinet {

/// An existing directory ends the descent. Otherwise the parent (the path
/// without its trailing backslash, cut at the last backslash) is made
/// first; a path with no backslash left has no parent to make and gives
/// ERROR_INVALID_DRIVE. Then this level, exactly as passed; an entry that
/// already exists counts as success, as another process may have made it.
DWORD MakeDirTree(const WCHAR *path)
{
    if (IsDirectory(path)) {
        return 0;
    }
    CStrBufW parent(path);
    StripBackslash(parent.Data);
    WCHAR *cut = WideFindLast(parent.Data, WIDE('\\'));
    if (cut == nullptr) {
        return ERROR_INVALID_DRIVE;
    }
    *cut = 0;
    const DWORD parentError = MakeDirTree(parent.Data);
    if (parentError != 0) {
        return parentError;
    }
    if (CreateDirectoryW(path, nullptr)) {
        return 0;
    }
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS ? 0 : error;
}

} // namespace Cabinet
