// File attributes: GetFileAttributesW, SetFileAttributesW, GetFileAttributesExW.
//
// Read-only is the owner's write permission of a file (directories never
// report it, and setting it on one changes nothing, as under Wine). Hidden,
// system and archive live in the extended attribute "user.DOSATTRIB" as the
// text "0x<hex>", the form Samba and Wine read and write. A file without
// that attribute reports archive, as a new file does on Windows; where the
// file system has no user extended attributes, the three bits are dropped
// silently and files keep reporting archive.
//
// A symbolic link is reported as Windows reports a reparse point:
// FILE_ATTRIBUTE_REPARSE_POINT, with the directory bit when it leads to a
// folder. The other bits, and GetFileAttributesExW's size and times,
// describe what the link leads to (Windows describes the link itself; a
// packer that follows links needs the target's). SetFileAttributesW never
// changes anything through a link.
#include <fcntl.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/HostBridge.h"

namespace {

constexpr char DOS_ATTRIBUTE_NAME[] = "user.DOSATTRIB";
constexpr DWORD STORED_BITS = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Reads the stored bits; false when the attribute is absent or not in the
// "0x<hex>" form (Samba's binary form is treated as absent).
bool ReadDosAttributes(const std::string &hostPath, DWORD *attributes)
{
    char value[32];
    const ssize_t length = getxattr(hostPath.c_str(), DOS_ATTRIBUTE_NAME, value, sizeof value - 1);
    if (length < 3) {
        return false;
    }
    value[length] = 0;
    if (value[0] != '0' || (value[1] != 'x' && value[1] != 'X')) {
        return false;
    }
    char *end = nullptr;
    const unsigned long parsed = std::strtoul(value + 2, &end, 16);
    if (end == value + 2) {
        return false;
    }
    *attributes = static_cast<DWORD>(parsed);
    return true;
}

// Adds the reparse-point bit of a link; FILE_ATTRIBUTE_NORMAL then no
// longer stands alone.
DWORD WithLinkBits(DWORD attributes, DWORD linkBits)
{
    if (linkBits == 0) {
        return attributes;
    }
    return (attributes | linkBits) & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
}

} // namespace

namespace Host {

DWORD AttributesOf(const struct stat &status, const std::string &hostPath)
{
    const bool directory = S_ISDIR(status.st_mode);
    DWORD attributes = directory ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if (!directory && (status.st_mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    DWORD stored = 0;
    if (ReadDosAttributes(hostPath, &stored)) {
        attributes |= stored & STORED_BITS;
    } else if (!directory) {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
    }
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

WIN32_FILE_ATTRIBUTE_DATA DescribeFile(const struct stat &status, const std::string &hostPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    data.dwFileAttributes = AttributesOf(status, hostPath);
    data.ftLastWriteTime = FileTimeFromTimespec(status.st_mtim);
    data.ftLastAccessTime = FileTimeFromTimespec(status.st_atim);
    // POSIX keeps no creation time that can be set; report the last write.
    data.ftCreationTime = data.ftLastWriteTime;
    const uint64_t size = S_ISDIR(status.st_mode) ? 0 : static_cast<uint64_t>(status.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    return data;
}

void StoreDosAttributes(int fd, const std::string &hostPath, DWORD attributes)
{
    char value[16];
    const int length = std::snprintf(value, sizeof value, "0x%x", static_cast<unsigned>(attributes & STORED_BITS));
    const size_t size = static_cast<size_t>(length);
    // Failures (no user xattrs on this file system) are deliberately ignored.
    if (fd >= 0) {
        (void)fsetxattr(fd, DOS_ATTRIBUTE_NAME, value, size, 0);
    } else {
        (void)lsetxattr(hostPath.c_str(), DOS_ATTRIBUTE_NAME, value, size, 0);
    }
}

bool DescribeEntry(const std::string &hostPath, struct stat &status, DWORD *linkBits)
{
    if (lstat(hostPath.c_str(), &status) != 0) {
        SetLastError(PathError(errno, hostPath));
        return false;
    }
    *linkBits = 0;
    if (S_ISLNK(status.st_mode)) {
        *linkBits = FILE_ATTRIBUTE_REPARSE_POINT;
        struct stat target;
        if (stat(hostPath.c_str(), &target) == 0) {
            status = target;
        }
    }
    return true;
}

} // namespace Host

DWORD GetFileAttributesW(LPCWSTR path)
{
    std::string hostPath;
    struct stat status;
    DWORD linkBits;
    if (!Host::ToHostPath(path, hostPath) || !Host::DescribeEntry(hostPath, status, &linkBits)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISLNK(status.st_mode)) {
        return linkBits; // leads nowhere
    }
    return WithLinkBits(Host::AttributesOf(status, hostPath), linkBits);
}

namespace {

// chmod that never follows a link at the last level (the caller has seen
// none there; this closes the window until the change).
bool ChangeMode(const std::string &hostPath, mode_t mode)
{
    if (fchmodat(AT_FDCWD, hostPath.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0) {
        return true;
    }
    // Without /proc the C library cannot change a mode without following.
    return (errno == ENOTSUP || errno == EOPNOTSUPP) && chmod(hostPath.c_str(), mode) == 0;
}

} // namespace

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes)
{
    std::string hostPath;
    struct stat status;
    if (!Host::ToHostPath(path, hostPath) || Host::RefuseFileAsFolder(hostPath)) {
        return FALSE;
    }
    if (lstat(hostPath.c_str(), &status) != 0) {
        return Host::Fail(Host::PathError(errno, hostPath));
    }
    // A link's own attributes have no place on POSIX; what it leads to is
    // not this file's business.
    if (S_ISLNK(status.st_mode)) {
        return TRUE;
    }

    // Without write permission a non-superuser cannot change extended
    // attributes, so the write bit is given before and taken after them.
    const bool makeReadOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0 && !S_ISDIR(status.st_mode);
    const mode_t mode = status.st_mode & 07777;
    if (!makeReadOnly && (mode & S_IWUSR) == 0 && !S_ISDIR(status.st_mode)) {
        if (!ChangeMode(hostPath, mode | S_IWUSR)) {
            return Host::Fail(Host::PathError(errno, hostPath));
        }
    }
    Host::StoreDosAttributes(-1, hostPath, attributes);
    if (makeReadOnly && (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0) {
        if (!ChangeMode(hostPath, mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))) {
            return Host::Fail(Host::PathError(errno, hostPath));
        }
    }
    return TRUE;
}

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info)
{
    if (level != GetFileExInfoStandard || info == nullptr) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    std::string hostPath;
    struct stat status;
    DWORD linkBits;
    if (!Host::ToHostPath(path, hostPath) || !Host::DescribeEntry(hostPath, status, &linkBits)) {
        return FALSE;
    }
    WIN32_FILE_ATTRIBUTE_DATA data = Host::DescribeFile(status, hostPath);
    // A link that leads nowhere has no other bits.
    data.dwFileAttributes = S_ISLNK(status.st_mode) ? linkBits : WithLinkBits(data.dwFileAttributes, linkBits);
    *static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(info) = data;
    return TRUE;
}
