// The process's place in the file system: GetCurrentDirectoryW,
// GetTempPathW, and the running executable's path.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/posix/HostBridge.h"

namespace Host {

std::string ExecutablePath()
{
    std::string path(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", &path[0], path.size());
        if (length < 0) {
            return std::string();
        }
        if (static_cast<size_t>(length) < path.size()) {
            path.resize(static_cast<size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace Host

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer)
{
    const std::unique_ptr<char, void (*)(void *)> current(getcwd(nullptr, 0), std::free);
    if (current == nullptr) {
        SetLastError(Host::Win32ErrorFromErrno(errno));
        return 0;
    }
    return Host::CopyOutText(Host::FromHostPath(current.get()), buffer, size);
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer)
{
    // TMPDIR plays the part of Windows' TMP and TEMP; the result ends in "\".
    const char *folder = std::getenv("TMPDIR");
    std::u16string path = Host::FromHostPath(folder != nullptr && *folder != 0 ? folder : "/tmp");
    if (path.back() != u'\\') {
        path.push_back(u'\\');
    }
    return Host::CopyOutText(path, buffer, size);
}
