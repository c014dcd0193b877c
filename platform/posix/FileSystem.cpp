// Folders and deletion: CreateDirectoryW, RemoveDirectoryW, DeleteFileW.
#include <unistd.h>

#include <cerrno>

#include "platform/posix/HostBridge.h"

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    std::string hostPath;
    if (!Host::ToHostPath(path, hostPath)) {
        return FALSE;
    }
    if (mkdir(hostPath.c_str(), 0777) == 0) {
        return TRUE;
    }
    // Windows answers "already exists" for a file of that name too, and
    // "path not found" for any missing or non-folder level above.
    switch (errno) {
    case EEXIST: return Host::Fail(ERROR_ALREADY_EXISTS);
    case ENOENT:
    case ENOTDIR: return Host::Fail(ERROR_PATH_NOT_FOUND);
    default: return Host::Fail(Host::Win32ErrorFromErrno(errno));
    }
}

BOOL RemoveDirectoryW(LPCWSTR path)
{
    std::string hostPath;
    struct stat status;
    if (!Host::ToHostPath(path, hostPath) || Host::RefuseFileAsFolder(hostPath) || !Host::StatPath(hostPath, status)) {
        return FALSE;
    }
    if (!S_ISDIR(status.st_mode)) {
        return Host::Fail(ERROR_DIRECTORY);
    }
    if (rmdir(hostPath.c_str()) == 0) {
        return TRUE;
    }
    return Host::Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Host::PathError(errno, hostPath));
}

BOOL DeleteFileW(LPCWSTR path)
{
    std::string hostPath;
    if (!Host::ToHostPath(path, hostPath) || Host::RefuseFileAsFolder(hostPath)) {
        return FALSE;
    }
    // lstat: a symbolic link is deleted itself, as Windows deletes a link.
    struct stat status;
    if (lstat(hostPath.c_str(), &status) != 0) {
        return Host::Fail(Host::PathError(errno, hostPath));
    }
    // Windows refuses folders and read-only files, whoever asks.
    if (S_ISDIR(status.st_mode) || (S_ISREG(status.st_mode) && (status.st_mode & S_IWUSR) == 0)) {
        return Host::Fail(ERROR_ACCESS_DENIED);
    }
    if (unlink(hostPath.c_str()) != 0) {
        return Host::Fail(Host::PathError(errno, hostPath));
    }
    return TRUE;
}
