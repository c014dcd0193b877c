// The per-thread last error and the one mapping from errno to Win32 errors.
#include <cerrno>

#include "platform/posix/HostBridge.h"

namespace {

// Like Windows' per-thread error slot; zero-initialised, so it is usable
// from static initialisers of other files too.
thread_local DWORD t_LastError = ERROR_SUCCESS;

bool IsDirectory(const std::string &hostPath)
{
    struct stat status;
    return stat(hostPath.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

DWORD GetLastError(void)
{
    return t_LastError;
}

void SetLastError(DWORD error)
{
    t_LastError = error;
}

namespace Host {

DWORD Win32ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
    }
}

int ErrnoFromWin32Error(DWORD error)
{
    // The mapping Windows' C runtime applies when a file call fails.
    switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANT_RESOLVE_FILENAME: return EACCES;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL: return ENOSPC;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    default: return EINVAL;
    }
}

DWORD PathError(int error, const std::string &hostPath)
{
    if (error != ENOENT) {
        return Win32ErrorFromErrno(error);
    }
    // Windows says "file not found" only when the folder above exists.
    const size_t slash = hostPath.find_last_of('/', hostPath.size() > 1 ? hostPath.size() - 2 : 0);
    if (slash == std::string::npos) {
        return ERROR_FILE_NOT_FOUND; // relative to the current directory, which exists
    }
    const std::string parent = slash == 0 ? std::string("/") : hostPath.substr(0, slash);
    return IsDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace Host
