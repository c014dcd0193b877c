// Files of the selfex tool.
#include "tools/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/Win32.h"
#include "tools/Interrupt.h"
#include "tools/TextConv.h"

namespace fs = std::filesystem;

namespace Selfex {

namespace {

constexpr int READ_FLAGS = _O_RDONLY | _O_BINARY | _O_SEQUENTIAL;
constexpr int CREATE_FLAGS = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
constexpr size_t OUTPUT_BUFFER_SIZE = 1 << 20;

int OpenForReading(const std::string &path)
{
    return _wopen(ToPlatformPath(path).c_str(), READ_FLAGS, _S_IREAD);
}

std::string RandomSuffix()
{
    std::random_device random;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(random()));
    return text;
}

} // namespace

std::string RunningExecutablePath()
{
    std::vector<WCHAR> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < path.size()) {
            return FromPlatformPath(path.data());
        }
        path.resize(2 * path.size());
    }
}

std::string LastErrnoText()
{
    return std::strerror(errno);
}

bool ReadSmallFile(const std::string &path, uint64_t maxBytes, std::vector<uint8_t> &bytes, std::string &error)
{
    int handle = OpenForReading(path);
    if (handle == -1) {
        error = path + ": " + LastErrnoText();
        return false;
    }
    bytes.clear();
    uint8_t chunk[65536];
    int got;
    while ((got = _read(handle, chunk, sizeof chunk)) > 0 && bytes.size() <= maxBytes) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (got < 0) {
        error = path + ": " + LastErrnoText();
    } else if (bytes.size() > maxBytes) {
        error = path + ": longer than " + std::to_string(maxBytes) + " bytes";
    }
    _close(handle);
    return error.empty();
}

CFileMemberSource::~CFileMemberSource()
{
    Close();
}

bool CFileMemberSource::Open(const CabMember &member, std::string &error)
{
    Close();
    m_Path = member.Source;
    m_Handle = OpenForReading(m_Path);
    if (m_Handle == -1) {
        error = m_Path + ": cannot read: " + LastErrnoText();
        return false;
    }
    return true;
}

int64_t CFileMemberSource::Read(uint8_t *buffer, uint32_t size, std::string &error)
{
    if (IsInterrupted()) {
        error = InterruptText();
        return -1;
    }
    int got = _read(m_Handle, buffer, size);
    if (got < 0) {
        error = m_Path + ": read failed: " + LastErrnoText();
    }
    return got;
}

void CFileMemberSource::Close()
{
    if (m_Handle != -1) {
        _close(m_Handle);
    }
    m_Handle = -1;
}

COutputFile::~COutputFile()
{
    Discard();
}

bool COutputFile::Create(const std::string &path, std::string &error)
{
    Discard();
    m_Path = path;
    // _O_EXCL: never take over a file of the same name, however unlikely.
    for (int attempt = 0; attempt < 8 && m_Handle == -1; ++attempt) {
        m_TempPath = path + "." + RandomSuffix() + ".tmp";
        m_Handle = _wopen(ToPlatformPath(m_TempPath).c_str(), CREATE_FLAGS, _S_IREAD | _S_IWRITE);
        if (m_Handle == -1 && errno != EEXIST) {
            break;
        }
    }
    if (m_Handle == -1) {
        error = path + ": cannot create: " + LastErrnoText();
        m_TempPath.clear();
        return false;
    }
    m_Buffer.reserve(OUTPUT_BUFFER_SIZE);
    m_Size = 0;
    return true;
}

bool COutputFile::Write(const uint8_t *data, size_t size, std::string &error)
{
    if (IsInterrupted()) {
        error = InterruptText();
        return false;
    }
    if (m_Buffer.size() + size > OUTPUT_BUFFER_SIZE && !Flush(error)) {
        return false;
    }
    if (size >= OUTPUT_BUFFER_SIZE) {
        int written = _write(m_Handle, data, static_cast<unsigned>(size));
        if (written != static_cast<int>(size)) {
            error = m_Path + ": write failed: " + LastErrnoText();
            return false;
        }
    } else {
        m_Buffer.insert(m_Buffer.end(), data, data + size);
    }
    m_Size += size;
    return true;
}

bool COutputFile::WriteAt(uint32_t offset, const uint8_t *data, size_t size, std::string &error)
{
    if (!Flush(error)) {
        return false;
    }
    bool ok = _lseek(m_Handle, static_cast<int32_t>(offset), SEEK_SET) == static_cast<int32_t>(offset) &&
              _write(m_Handle, data, static_cast<unsigned>(size)) == static_cast<int>(size);
    // Back to the end, where appending goes on.
    ok = _lseek(m_Handle, 0, SEEK_END) != -1 && ok;
    if (!ok) {
        error = m_Path + ": write failed: " + LastErrnoText();
    }
    return ok;
}

int64_t COutputFile::ReadAt(uint32_t offset, uint8_t *buffer, uint32_t size, std::string &error)
{
    if (!Flush(error)) {
        return -1;
    }
    // The file was opened for writing only: read through a second handle.
    int handle = OpenForReading(m_TempPath);
    int got = -1;
    if (handle != -1 && _lseek(handle, static_cast<int32_t>(offset), SEEK_SET) == static_cast<int32_t>(offset)) {
        got = _read(handle, buffer, size);
    }
    if (got < 0) {
        error = m_Path + ": cannot read back: " + LastErrnoText();
    }
    if (handle != -1) {
        _close(handle);
    }
    return got;
}

bool COutputFile::Flush(std::string &error)
{
    if (m_Buffer.empty()) {
        return true;
    }
    int written = _write(m_Handle, m_Buffer.data(), static_cast<unsigned>(m_Buffer.size()));
    if (written != static_cast<int>(m_Buffer.size())) {
        error = m_Path + ": write failed: " + (written >= 0 ? std::string("disk full") : LastErrnoText());
        return false;
    }
    m_Buffer.clear();
    return true;
}

bool COutputFile::Commit(std::string &error)
{
    // The last moment an interrupt can still keep the file from its place.
    if (IsInterrupted()) {
        error = InterruptText();
        return false;
    }
    if (!Flush(error)) {
        return false;
    }
    int closed = _close(m_Handle);
    m_Handle = -1;
    if (closed != 0) {
        error = m_Path + ": write failed: " + LastErrnoText();
        return false;
    }
    std::error_code failure;
    fs::path from = fs::u8path(m_TempPath);
    fs::path to = fs::u8path(m_Path);
    fs::rename(from, to, failure);
    if (failure && fs::exists(to) && !fs::is_directory(to)) {
        // Windows' rename does not replace an existing file. A folder of
        // that name is never removed to make room.
        std::error_code ignored;
        fs::remove(to, ignored);
        failure.clear();
        fs::rename(from, to, failure);
    }
    if (failure) {
        error = m_Path + ": cannot rename " + m_TempPath + " into place: " + failure.message();
        return false;
    }
    m_TempPath.clear();
    return true;
}

void COutputFile::Discard()
{
    if (m_Handle != -1) {
        _close(m_Handle);
    }
    m_Handle = -1;
    if (!m_TempPath.empty()) {
        std::error_code ignored;
        fs::remove(fs::u8path(m_TempPath), ignored);
    }
    m_TempPath.clear();
    m_Buffer.clear();
}

bool CCabFileSink::Append(const uint8_t *data, size_t size, std::string &error)
{
    return m_File.Write(data, size, error);
}

bool CCabFileSink::Overwrite(uint32_t offset, const uint8_t *data, size_t size, std::string &error)
{
    return m_File.WriteAt(m_Base + offset, data, size, error);
}

} // namespace Selfex
