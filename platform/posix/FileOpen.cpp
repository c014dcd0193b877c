// Opening files with Windows' rules on top of open(2), shared by _wopen and
// CreateFileW.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/HostBridge.h"

namespace {

// FDI and the extractor treat 0 as "no handle": keep every descriptor we
// hand out above the standard streams, even when one of them is closed.
int LiftAboveStandardStreams(int fd)
{
    if (fd > 2) {
        return fd;
    }
    const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return lifted;
}

// Refuses what Windows refuses of an open file, closing it; returns the
// Win32 error or ERROR_SUCCESS.
DWORD CheckOpened(int fd, const Host::OpenRequest &request, bool created)
{
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return Host::Win32ErrorFromErrno(errno);
    }
    if (S_ISDIR(status.st_mode)) {
        return request.AllowDirectory && request.AccessMode == O_RDONLY ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }
    const bool changes = request.AccessMode != O_RDONLY || request.Truncate;
    // Writes go to regular files only: a FIFO would take the data away (or
    // block), a device is nothing a file operation should reach.
    if (changes && !S_ISREG(status.st_mode)) {
        return ERROR_ACCESS_DENIED;
    }
    // Windows checks the read-only attribute itself, so even a superuser may
    // neither write nor truncate; a file created read-only by this very open
    // stays writable through it, as on Windows.
    if (changes && !created && (status.st_mode & S_IWUSR) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (request.Truncate && !created && ftruncate(fd, 0) != 0) {
        return Host::Win32ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

} // namespace

namespace Host {

int OpenFile(const std::string &hostPath, const OpenRequest &request, bool *created, DWORD *error)
{
    // Never blocking: a FIFO opens at once, to be refused or read. An open
    // that may change the file does not follow a link at the last level.
    const bool changes = request.AccessMode != O_RDONLY || request.Truncate;
    int flags = request.AccessMode | O_CLOEXEC | O_NONBLOCK | (request.Append ? O_APPEND : 0);
    if (request.NoData && !request.Create) {
        flags = O_PATH | O_CLOEXEC | (request.NoFollow ? O_NOFOLLOW : 0);
    } else if (changes) {
        flags |= O_NOFOLLOW;
    }
    int fd = -1;
    *created = false;
    // Create with O_EXCL first, so that we know whether the file is new
    // without a race; retry if it vanishes between the two opens.
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
        if (request.Create) {
            fd = open(hostPath.c_str(), flags | O_CREAT | O_EXCL, request.CreateMode);
            if (fd >= 0) {
                *created = true;
                break;
            }
            if (errno != EEXIST || request.Exclusive) {
                break;
            }
        }
        fd = open(hostPath.c_str(), flags);
        if (fd >= 0 || errno != ENOENT || !request.Create) {
            break;
        }
    }
    if (fd < 0) {
        *error = PathError(errno, hostPath);
        return -1;
    }

    // A file this open created is a new regular file (O_EXCL follows no
    // link): nothing to refuse, and O_NONBLOCK means nothing to it.
    *error = *created ? ERROR_SUCCESS : CheckOpened(fd, request, *created);
    // Reads of a FIFO that did open wait for data as usual.
    if (*error == ERROR_SUCCESS && !*created && (flags & O_NONBLOCK) != 0) {
        const int status = fcntl(fd, F_GETFL);
        if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
            *error = Win32ErrorFromErrno(errno);
        }
    }
    if (*error == ERROR_SUCCESS) {
        fd = LiftAboveStandardStreams(fd);
    } else {
        close(fd);
    }
    if (fd < 0 && *error == ERROR_SUCCESS) {
        *error = Win32ErrorFromErrno(errno);
    }
    return *error == ERROR_SUCCESS ? fd : -1;
}

} // namespace Host
