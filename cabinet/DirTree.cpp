// MakeDirTree: recursive creation of directory levels.
#include "cabinet/DirTree.h"

#include "support/PathUtil.h"
#include "support/StrBuf.h"
#include "support/WideText.h"

namespace Cabinet {

/// 1. An existing directory ends the descent. 2-3. The parent is the path
/// without its trailing backslash, cut at the last backslash; none left:
/// ERROR_INVALID_DRIVE. 4. The parent first. 5. Then this level, exactly as
/// passed; an entry that already exists counts as success.
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
