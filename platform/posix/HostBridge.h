// Internal helpers of the POSIX platform layer: errors, paths, text and
// times at the boundary between the Win32 view and the host.
//
// Not part of the Win32 subset; only platform/posix/*.cpp include this.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/posix/Win32Posix.h"

namespace Host {

// --- Errors (LastError.cpp) ---

// The Win32 error for an errno value of a file operation. ENOENT becomes
// ERROR_FILE_NOT_FOUND; callers that know the path use PathError.
DWORD Win32ErrorFromErrno(int error);
// The C-runtime errno that Windows' runtime reports for a Win32 error.
int ErrnoFromWin32Error(DWORD error);
// Win32ErrorFromErrno, except that ENOENT is told apart as Windows does:
// ERROR_FILE_NOT_FOUND when only the last level of hostPath is missing,
// ERROR_PATH_NOT_FOUND when a parent is missing too.
DWORD PathError(int error, const std::string &hostPath);
// Sets the thread's last error and returns FALSE, for one-line failures.
BOOL Fail(DWORD error);

// --- Text (CodePage.cpp) ---

// UTF-16 to UTF-8. With strict, a lone surrogate fails (returns false);
// otherwise it becomes U+FFFD.
bool Utf16ToUtf8(const WCHAR *text, size_t length, bool strict, std::string &out);
// UTF-8 to UTF-16, invalid sequences becoming U+FFFD as Windows does.
std::u16string Utf8ToUtf16(const std::string &text);

// --- Paths (PathConvert.cpp) ---

// Turns a Win32 path into a host path: UTF-8, "/"-separated, "." and ".."
// levels resolved and trailing dots and spaces trimmed as Win32 does. On
// failure returns false with the Win32 error set as the last error.
bool ToHostPath(LPCWSTR path, std::string &hostPath);
// Windows refuses to open "file\" (a file named as a folder) with
// ERROR_INVALID_NAME, while attribute queries say ERROR_PATH_NOT_FOUND.
// For the opening calls: true, with that error set, when hostPath ends in
// "/" and names an existing non-folder.
bool RefuseFileAsFolder(const std::string &hostPath);
// stat of a host path; on failure false with the Win32 error (PathError)
// set as the last error.
bool StatPath(const std::string &hostPath, struct stat &status);
// Turns a host path into a Win32 path: UTF-16, "\"-separated.
std::u16string FromHostPath(const std::string &hostPath);
// Copies a Win32 text into a caller's buffer with GetCurrentDirectoryW's
// contract: the length copied, or the size needed (terminator included)
// with the buffer untouched when it does not fit.
DWORD CopyOutText(const std::u16string &text, LPWSTR buffer, DWORD size);

// --- Files (FileAttributes.cpp, FileOpen.cpp) ---

// The Win32 attributes of a file from its status and, for hidden, system
// and archive, its "user.DOSATTRIB" extended attribute.
DWORD AttributesOf(const struct stat &status, const std::string &hostPath);
// What GetFileAttributesExW reports for a file of that status.
WIN32_FILE_ATTRIBUTE_DATA DescribeFile(const struct stat &status, const std::string &hostPath);
// Stores hidden, system and archive in "user.DOSATTRIB" (fd, or path if
// fd < 0, never through a link); silently does nothing where the file
// system has no user xattrs.
void StoreDosAttributes(int fd, const std::string &hostPath, DWORD attributes);
// lstat of hostPath; for a symbolic link that leads somewhere, status then
// describes where it leads. *linkBits is FILE_ATTRIBUTE_REPARSE_POINT for a
// link, else 0. On failure false with the Win32 error set.
bool DescribeEntry(const std::string &hostPath, struct stat &status, DWORD *linkBits);

// What OpenFile is asked to do, in host terms.
struct OpenRequest {
    int AccessMode;      // O_RDONLY, O_WRONLY or O_RDWR
    bool NoData;         // neither reads nor writes: O_PATH, any kind of file
    bool Create;         // create the file when it is missing
    bool Exclusive;      // fail with ERROR_FILE_EXISTS when it exists
    bool Truncate;       // empty an existing file
    bool Append;         // every write goes to the end
    bool AllowDirectory; // a directory may be opened (read-only)
    bool NoFollow;       // a symbolic link at the last level is opened itself (NoData only)
    mode_t CreateMode;   // permission bits of a new file
};
// Opens with Windows' rules: an existing read-only file refuses write access
// and truncation, a directory refuses to open as a file (both
// ERROR_ACCESS_DENIED), even for the superuser. Beyond Windows: an open
// never blocks (a FIFO without a writer included); one that may change the
// file neither follows a symbolic link at the last level
// (ERROR_CANT_RESOLVE_FILENAME) nor opens anything but a regular file
// (ERROR_ACCESS_DENIED). Returns a descriptor of 3 or more, with *created
// telling whether the file is new, or -1 with the Win32 error in *error.
int OpenFile(const std::string &hostPath, const OpenRequest &request, bool *created, DWORD *error);

// --- Handles (Handles.cpp, FileHandle.cpp) ---

// Forgets the HANDLE _get_osfhandle gave for fd; _close calls it.
void ForgetDescriptorHandle(int fd);

// An object behind a HANDLE; the registry owns it from Register to Unregister.
class CHandleObject {
public:
    virtual ~CHandleObject() = default;
};
// Takes ownership and returns the HANDLE naming the object.
HANDLE RegisterHandle(CHandleObject *object);
// The object of a live handle if it is a T, else null (ERROR_INVALID_HANDLE
// set as last error).
template <typename T>
T *LookUpHandle(HANDLE handle);
// Removes a live handle of type T and destroys its object; false (with
// ERROR_INVALID_HANDLE) for anything else.
template <typename T>
bool CloseHandleOf(HANDLE handle);

// --- Environment (Environment.cpp) ---

// The running executable's host path ("/proc/self/exe" resolved), or empty.
std::string ExecutablePath();

// --- Times (FileTime.cpp) ---

// Host time (seconds and nanoseconds since 1970) and FILETIME.
FILETIME FileTimeFromTimespec(const struct timespec &time);
struct timespec TimespecFromFileTime(const FILETIME &time);

// The untyped registry behind LookUpHandle and CloseHandleOf.
CHandleObject *FindHandleObject(HANDLE handle);
CHandleObject *RemoveHandleObject(HANDLE handle, bool (*isWanted)(CHandleObject *));

template <typename T>
T *LookUpHandle(HANDLE handle)
{
    T *object = dynamic_cast<T *>(FindHandleObject(handle));
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return object;
}

template <typename T>
bool CloseHandleOf(HANDLE handle)
{
    CHandleObject *object =
        RemoveHandleObject(handle, [](CHandleObject *candidate) { return dynamic_cast<T *>(candidate) != nullptr; });
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    delete object;
    return true;
}

} // namespace Host
