// A cabinet file as the selfex tool shows it to the extractor.
#include "tools/CabinetView.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/Win32.h"
#include "tools/FileIo.h"
#include "tools/PackageLayout.h"
#include "tools/TextConv.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

constexpr int64_t VIEW_LIMIT = INT32_MAX; // the last position a signed 32-bit offset holds

} // namespace

CCabinetView::~CCabinetView()
{
    Close();
}

bool CCabinetView::Open(const std::string &path, std::string &problem)
{
    Close();
    std::error_code failure;
    fs::file_status status = fs::status(fs::u8path(path), failure);
    m_Exists = fs::exists(status);
    if (!m_Exists) {
        problem = "no such file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        problem = fs::is_directory(status) ? "is a folder" : "not a regular file";
        return false;
    }
    const uintmax_t size = fs::file_size(fs::u8path(path), failure);
    m_Handle = _wopen(ToPlatformPath(path).c_str(), _O_RDONLY | _O_BINARY, _S_IREAD);
    if (failure || m_Handle == -1) {
        problem = "cannot read: " + (failure ? failure.message() : LastErrnoText());
        Close();
        return false;
    }
    uint8_t magic[4] = {};
    const bool bare = _read(m_Handle, magic, sizeof magic) == 4 && std::memcmp(magic, "MSCF", 4) == 0;
    m_FilePosition = -1;
    m_Prefix = bare ? PACKAGE_SEARCH_START : 0;
    m_Length = static_cast<int64_t>(m_Prefix) + static_cast<int64_t>(size);
    m_Position = 0;
    if (size > static_cast<uintmax_t>(VIEW_LIMIT) || m_Length > VIEW_LIMIT) {
        const std::string prefix = bare ? std::to_string(m_Prefix) + " bytes of package prefix and " : "";
        problem = "too large for the extractor: " + prefix + std::to_string(size) +
                  " bytes of file reach 2 GiB, and its file positions are signed 32-bit";
        Close();
        return false;
    }
    return true;
}

int32_t CCabinetView::Read(void *buffer, uint32_t count)
{
    auto *out = static_cast<uint8_t *>(buffer);
    const int64_t wanted = std::min<int64_t>(count, std::max<int64_t>(m_Length - m_Position, 0));
    int64_t done = 0;
    // The zero prefix first, then the file itself.
    if (m_Position < m_Prefix && wanted > 0) {
        const int64_t zeros = std::min<int64_t>(wanted, m_Prefix - m_Position);
        std::memset(out, 0, static_cast<size_t>(zeros));
        done = zeros;
        m_Position += zeros;
    }
    if (done < wanted) {
        const int64_t fileOffset = m_Position - m_Prefix;
        if (m_FilePosition != fileOffset) {
            if (_lseek(m_Handle, static_cast<int32_t>(fileOffset), SEEK_SET) != fileOffset) {
                m_FilePosition = -1;
                return done > 0 ? static_cast<int32_t>(done) : -1;
            }
            m_FilePosition = fileOffset;
        }
        const int got = _read(m_Handle, out + done, static_cast<unsigned>(wanted - done));
        if (got < 0) {
            m_FilePosition = -1;
            return done > 0 ? static_cast<int32_t>(done) : -1;
        }
        m_FilePosition += got;
        m_Position += got;
        done += got;
    }
    return static_cast<int32_t>(done);
}

int32_t CCabinetView::Seek(int32_t offset, int origin)
{
    int64_t base;
    switch (origin) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = m_Position; break;
    case SEEK_END: base = m_Length; break;
    default: errno = EINVAL; return -1;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > VIEW_LIMIT) {
        errno = EINVAL;
        return -1;
    }
    m_Position = target;
    return static_cast<int32_t>(target);
}

int32_t CCabinetView::Close()
{
    const int32_t result = m_Handle != -1 ? _close(m_Handle) : 0;
    m_Handle = -1;
    return result;
}

} // namespace Selfex
