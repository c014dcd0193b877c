// File handles: CreateFileW, CloseHandle, SetFileTime, GetFileType and
// _get_osfhandle, enough to look at a file without reaching its data and to
// apply stored times through an open descriptor.
//
// Share modes are not enforced: POSIX has no mandatory sharing, so a file
// another process holds is never a sharing violation here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <unordered_map>

#include "platform/posix/HostBridge.h"

namespace {

// The object behind a file HANDLE.
class CFileHandle : public Host::CHandleObject {
public:
    // ownsFd: CloseHandle closes the descriptor (false for the handle of a
    // C-runtime descriptor, which _close closes).
    CFileHandle(int fd, bool canSetTimes, bool ownsFd = true) : m_Fd(fd), m_CanSetTimes(canSetTimes), m_OwnsFd(ownsFd)
    {
    }
    ~CFileHandle() override
    {
        if (m_OwnsFd) {
            close(m_Fd);
        }
    }
    CFileHandle(const CFileHandle &) = delete;
    CFileHandle &operator=(const CFileHandle &) = delete;

    int Fd() const { return m_Fd; }
    bool CanSetTimes() const { return m_CanSetTimes; }

private:
    int m_Fd;
    bool m_CanSetTimes;
    bool m_OwnsFd;
};

// The handles _get_osfhandle gave out, by descriptor.
std::mutex g_DescriptorLock;
std::unordered_map<int, HANDLE> &DescriptorHandles()
{
    static std::unordered_map<int, HANDLE> handles;
    return handles;
}

// Fills the host side of a disposition; false for an unknown one.
bool ApplyDisposition(DWORD disposition, Host::OpenRequest &request)
{
    switch (disposition) {
    case CREATE_NEW: request.Create = request.Exclusive = true; return true;
    case CREATE_ALWAYS: request.Create = request.Truncate = true; return true;
    case OPEN_EXISTING: return true;
    case OPEN_ALWAYS: request.Create = true; return true;
    case TRUNCATE_EXISTING: request.Truncate = true; return true;
    default: return false;
    }
}

// A time to apply: null, 0 ("leave it") and all ones ("stop updating it")
// leave the file's time as it is.
struct timespec TimeToApply(const FILETIME *time)
{
    struct timespec omit = {0, UTIME_OMIT};
    if (time == nullptr || (time->dwLowDateTime == 0 && time->dwHighDateTime == 0) ||
        (time->dwLowDateTime == 0xFFFFFFFF && time->dwHighDateTime == 0xFFFFFFFF)) {
        return omit;
    }
    return Host::TimespecFromFileTime(*time);
}

} // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile)
{
    const bool write = (access & GENERIC_WRITE) != 0;
    Host::OpenRequest request{};
    request.AccessMode = write ? ((access & GENERIC_READ) != 0 ? O_RDWR : O_WRONLY) : O_RDONLY;
    // Attributes only: any kind of file opens, without reaching its data.
    request.NoData = (access & (GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES)) == 0;
    request.NoFollow = (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    request.AllowDirectory = (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    request.CreateMode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    if (!ApplyDisposition(disposition, request) || (disposition == TRUNCATE_EXISTING && !write)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string hostPath;
    if (!Host::ToHostPath(path, hostPath) || Host::RefuseFileAsFolder(hostPath)) {
        return INVALID_HANDLE_VALUE;
    }

    bool created;
    DWORD error;
    const int fd = Host::OpenFile(hostPath, request, &created, &error);
    if (fd < 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (created && (flagsAndAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
        Host::StoreDosAttributes(fd, hostPath, flagsAndAttributes | FILE_ATTRIBUTE_ARCHIVE);
    }
    // The "always" dispositions report whether the file was there before.
    const bool always = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(always && !created ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    const bool canSetTimes = write || (access & FILE_WRITE_ATTRIBUTES) != 0;
    return Host::RegisterHandle(new CFileHandle(fd, canSetTimes));
}

BOOL CloseHandle(HANDLE handle)
{
    // INVALID_HANDLE_VALUE is also the current-process pseudo handle, whose
    // closing Windows accepts and ignores.
    if (handle == INVALID_HANDLE_VALUE) {
        return TRUE;
    }
    return Host::CloseHandleOf<CFileHandle>(handle) ? TRUE : FALSE;
}

BOOL SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *lastAccess, const FILETIME *lastWrite)
{
    const CFileHandle *object = Host::LookUpHandle<CFileHandle>(file);
    if (object == nullptr) {
        return FALSE;
    }
    if (!object->CanSetTimes()) {
        return Host::Fail(ERROR_ACCESS_DENIED);
    }
    // POSIX keeps no creation time that can be set; it is accepted and dropped.
    const struct timespec times[2] = {TimeToApply(lastAccess), TimeToApply(lastWrite)};
    if (futimens(object->Fd(), times) != 0) {
        return Host::Fail(Host::Win32ErrorFromErrno(errno));
    }
    return TRUE;
}

DWORD GetFileType(HANDLE file)
{
    const CFileHandle *object = Host::LookUpHandle<CFileHandle>(file);
    struct stat status;
    if (object == nullptr || fstat(object->Fd(), &status) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(ERROR_SUCCESS);
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
        return FILE_TYPE_PIPE;
    }
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
        return FILE_TYPE_CHAR;
    }
    return FILE_TYPE_DISK; // files, folders and links opened as themselves
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD size, DWORD flags)
{
    const CFileHandle *object = Host::LookUpHandle<CFileHandle>(file);
    if (object == nullptr) {
        return 0;
    }
    // The kernel's name of the open file: links resolved, except a link
    // opened as itself.
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", object->Fd());
    std::string target(4096, '\0');
    const ssize_t length = readlink(link, &target[0], target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    target.resize(static_cast<size_t>(length));
    return Host::CopyOutText(Host::FromHostPath(target), buffer, size);
}

intptr_t _get_osfhandle(int fd)
{
    const int mode = fcntl(fd, F_GETFL);
    if (mode < 0) {
        errno = EBADF;
        return -1;
    }
    std::lock_guard<std::mutex> lock(g_DescriptorLock);
    HANDLE &handle = DescriptorHandles()[fd];
    if (handle == nullptr) {
        const bool canSetTimes = (mode & O_ACCMODE) != O_RDONLY;
        handle = Host::RegisterHandle(new CFileHandle(fd, canSetTimes, false));
    }
    return reinterpret_cast<intptr_t>(handle);
}

namespace Host {

void ForgetDescriptorHandle(int fd)
{
    std::lock_guard<std::mutex> lock(g_DescriptorLock);
    auto found = DescriptorHandles().find(fd);
    if (found != DescriptorHandles().end()) {
        CloseHandleOf<CFileHandle>(found->second);
        DescriptorHandles().erase(found);
    }
}

} // namespace Host
