// The C runtime's descriptor I/O: _wopen, _read, _write, _lseek, _close.
//
// Descriptors are the host's. Failures set errno to the value Windows' C
// runtime uses for the same failure and, for opens, the Win32 last error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/posix/HostBridge.h"

namespace {

int FailOpen(DWORD error)
{
    SetLastError(error);
    errno = Host::ErrnoFromWin32Error(error);
    return -1;
}

} // namespace

int _wopen(const WCHAR *path, int oflag, int pmode)
{
    static constexpr int ACCESS_MODES[] = {O_RDONLY, O_WRONLY, O_RDWR};
    const int access = oflag & (_O_WRONLY | _O_RDWR);
    // Deleting on close has no faithful POSIX form; refuse it openly.
    if (access > 2 || (oflag & _O_TEMPORARY) != 0) {
        return FailOpen(ERROR_INVALID_PARAMETER);
    }
    std::string hostPath;
    if (!Host::ToHostPath(path, hostPath) || Host::RefuseFileAsFolder(hostPath)) {
        return FailOpen(GetLastError());
    }

    Host::OpenRequest request{};
    request.AccessMode = ACCESS_MODES[access];
    request.Create = (oflag & _O_CREAT) != 0;
    request.Exclusive = (oflag & _O_CREAT) != 0 && (oflag & _O_EXCL) != 0;
    request.Truncate = (oflag & _O_TRUNC) != 0;
    request.Append = (oflag & _O_APPEND) != 0;
    // Without _S_IWRITE a new file is read-only, as on Windows; the umask applies.
    request.CreateMode = (pmode & _S_IWRITE) != 0 ? 0666 : 0444;
    bool created;
    DWORD error;
    const int fd = Host::OpenFile(hostPath, request, &created, &error);
    return fd >= 0 ? fd : FailOpen(error);
}

int _read(int fd, void *buffer, unsigned int count)
{
    if (count > INT_MAX || (buffer == nullptr && count > 0)) {
        errno = EINVAL;
        return -1;
    }
    ssize_t done;
    do {
        done = read(fd, buffer, count);
    } while (done < 0 && errno == EINTR);
    return static_cast<int>(done);
}

int _write(int fd, const void *buffer, unsigned int count)
{
    if (count > INT_MAX || (buffer == nullptr && count > 0)) {
        errno = EINVAL;
        return -1;
    }
    // Windows writes a regular file in one go; POSIX may stop early. Keep
    // going, and report a partial count only if an error follows it.
    const auto *bytes = static_cast<const unsigned char *>(buffer);
    size_t total = 0;
    while (total < count) {
        const ssize_t done = write(fd, bytes + total, count - total);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            if (done == 0) {
                errno = ENOSPC;
            }
            return total > 0 ? static_cast<int>(total) : -1;
        }
        total += static_cast<size_t>(done);
    }
    return static_cast<int>(total);
}

int32_t _lseek(int fd, int32_t offset, int origin)
{
    // Work out the target first: a position beyond 2^31 - 1 cannot be
    // reported, so the seek fails with EINVAL and the file pointer stays.
    // (Old msvcrt.dll moves and returns the wrapped negative value.)
    off_t base = 0;
    if (origin == SEEK_CUR) {
        base = lseek(fd, 0, SEEK_CUR);
    } else if (origin == SEEK_END) {
        struct stat status;
        base = fstat(fd, &status) == 0 ? status.st_size : -1;
    } else if (origin != SEEK_SET) {
        errno = EINVAL;
        return -1;
    } else if (fcntl(fd, F_GETFD) < 0) {
        return -1; // EBADF
    }
    if (base < 0) {
        return -1;
    }
    const int64_t target = int64_t{base} + offset;
    if (target < 0 || target > INT32_MAX) {
        errno = EINVAL;
        return -1;
    }
    if (lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        return -1;
    }
    return static_cast<int32_t>(target);
}

int _close(int fd)
{
    Host::ForgetDescriptorHandle(fd);
    // On Linux the descriptor is gone even when close reports EINTR.
    if (close(fd) != 0 && errno != EINTR) {
        return -1;
    }
    return 0;
}
