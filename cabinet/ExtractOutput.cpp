// Cabinet::CExtract: where an output file may be written.
//
// The destination is the user's choice and may itself be a link. Below it,
// nothing is written through a link (a symbolic link or a junction, which
// the platform reports as FILE_ATTRIBUTE_REPARSE_POINT) and only regular
// files are written: a folder level that is a link, or a link, FIFO, socket
// or device at the output path, stops the run. An existing regular file is
// deleted and a new one created, so that another name of it (a hard link)
// keeps its data. Each folder level is looked at once per run.
#include "cabinet/CaseFold.h"
#include "cabinet/DirTree.h"
#include "cabinet/Extract.h"
#include "support/PathUtil.h"
#include "support/WideText.h"

namespace Cabinet {

namespace {

#if defined(_WIN32)
// GetFinalPathNameByHandleW is Vista's: looked up, so that the stub still
// starts on older Windows (which then cannot tell).
DWORD FinalPathName(HANDLE file, LPWSTR buffer, DWORD size)
{
    using FinalPathFn = DWORD(WINAPI *)(HANDLE, LPWSTR, DWORD, DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC entry = kernel != nullptr ? GetProcAddress(kernel, "GetFinalPathNameByHandleW") : nullptr;
    if (entry == nullptr) {
        return 0;
    }
    return reinterpret_cast<FinalPathFn>(reinterpret_cast<void (*)()>(entry))(file, buffer, size, 0);
}
#else
DWORD FinalPathName(HANDLE file, LPWSTR buffer, DWORD size)
{
    return GetFinalPathNameByHandleW(file, buffer, size, 0);
}
#endif

// The path the file system knows an open file by; false when it cannot
// tell.
bool FinalPathOf(HANDLE file, CStrBufW &path)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = FinalPathName(file, path.Data, path.Capacity);
        if (length == 0) {
            return false;
        }
        if (length < path.Capacity) {
            return true;
        }
        path.Reserve(length);
    }
    return false;
}

// False when the file opened as probe is known by another path than its
// folder's path and its own name: a link that the attributes do not show
// (Wine shows a symbolic link to a file as that file), or a short-name
// alias of another file. True when the platform cannot tell.
bool IsKnownByItsOwnPath(HANDLE probe, const WCHAR *outPath)
{
    CStrBufW filePath;
    if (!FinalPathOf(probe, filePath)) {
        return true;
    }
    CStrBufW folder(outPath);
    WCHAR *name = WideFindLast(folder.Data, WIDE('\\'));
    if (name == nullptr) {
        return true;
    }
    *name++ = 0;
    HANDLE folderHandle =
        CreateFileW(folder.Data, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folderHandle == INVALID_HANDLE_VALUE) {
        return true;
    }
    CStrBufW expected;
    const bool known = FinalPathOf(folderHandle, expected);
    CloseHandle(folderHandle);
    if (!known) {
        return true;
    }
    AppendBackslash(expected);
    expected.Append(name);
    const uint32_t length = expected.Length();
    if (filePath.Length() != length) {
        return false;
    }
    for (uint32_t i = 0; i < length; ++i) {
        if (FoldCase(filePath.Data[i]) != FoldCase(expected.Data[i])) {
            return false;
        }
    }
    return true;
}

// 0 when path is a real folder (made here if missing, and then made is
// set), else the Detail.
DWORD CheckOrMakeFolder(const WCHAR *path, bool &made)
{
    made = false;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (CreateDirectoryW(path, nullptr)) {
            made = true;
            return 0;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            return error;
        }
        // Made meanwhile by someone else, or something the attributes do
        // not show (Wine shows none for a FIFO).
        attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return ERROR_PATH_NOT_FOUND;
        }
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return static_cast<DWORD>(DETAIL_REPARSE_POINT);
    }
    // A file where a folder must be: nothing can be created below it.
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_PATH_NOT_FOUND;
}

} // namespace

/// The destination is made (links followed: it is the user's choice); the
/// levels of relDir below it are checked or made from the top down. A
/// folder checked once is remembered for the rest of the run, the whole of
/// relDir included, so that files in one folder cost one look-up.
DWORD CExtract::PrepareFolders(const CStrBufW &relDir)
{
    if (!m_DestinationReady) {
        const DWORD error = MakeDirTree(m_Destination.Data);
        if (error != 0) {
            return error;
        }
        m_DestinationReady = true;
    }
    const uint32_t length = relDir.Length();
    if (length == 0 || m_CheckedFolders.Contains(relDir.Data, length)) {
        return 0;
    }
    CStrBufW folder;
    const uint32_t destinationLength = m_Destination.Length();
    for (uint32_t end = 0; end < length; ++end) {
        if (relDir.Data[end] != WIDE('\\') || m_CheckedFolders.Contains(relDir.Data, end + 1)) {
            continue;
        }
        folder.Assign(m_Destination);
        folder.Append(relDir);
        folder.Data[destinationLength + end] = 0; // the level without its separator
        bool made;
        const DWORD error = CheckOrMakeFolder(folder.Data, made);
        if (error != 0) {
            return error;
        }
        m_CheckedFolders.Add(relDir.Data, end + 1);
        if (made) {
            m_MadeFolders.Add(relDir.Data, end + 1);
        }
    }
    return 0;
}

/// A file in a folder this run created can only meet what this run put
/// there, and stored names are unique in a run: nothing to clear. Whatever
/// appears there meanwhile makes the exclusive create fail.
bool CExtract::InFolderMadeThisRun(const CStrBufW &relDir)
{
    const uint32_t length = relDir.Length();
    return length > 0 && m_MadeFolders.Contains(relDir.Data, length);
}

/// Nothing at outPath: 0. A link: refused. A folder: left to the open, which
/// fails. Anything else is looked at through a handle that opens neither
/// through a link nor into a FIFO's data; only a regular file known by its
/// own path passes (Wine would delete what a hidden link leads to), and it
/// is deleted (its read-only, hidden and system bits cleared first, as
/// Windows refuses to delete a read-only file).
DWORD CExtract::ClearOutputPath(const WCHAR *outPath)
{
    const DWORD attributes = GetFileAttributesW(outPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return 0;
        }
    } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return static_cast<DWORD>(DETAIL_REPARSE_POINT);
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return 0;
    }
    HANDLE probe =
        CreateFileW(outPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    const DWORD type = GetFileType(probe);
    const bool ownPath = type != FILE_TYPE_DISK || IsKnownByItsOwnPath(probe, outPath);
    CloseHandle(probe);
    if (type != FILE_TYPE_DISK) {
        return static_cast<DWORD>(DETAIL_NOT_A_FILE);
    }
    if (!ownPath) {
        return static_cast<DWORD>(DETAIL_REPARSE_POINT);
    }
    constexpr DWORD BLOCKING_DELETE = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & BLOCKING_DELETE) != 0) {
        SetFileAttributesW(outPath, FILE_ATTRIBUTE_NORMAL);
    }
    if (!DeleteFileW(outPath)) {
        return GetLastError();
    }
    return 0;
}

} // namespace Cabinet
