// A unique temporary folder for one test, and a fixture that owns one.
#include "tests/testlib/TempDir.h"

#include <atomic>
#include <string>

namespace {

std::atomic<unsigned> g_TempDirCount{0};

WString Decimal(unsigned long long value)
{
    const std::string digits = std::to_string(value);
    return WString(digits.begin(), digits.end());
}

} // namespace

CTempDir::CTempDir()
{
    WCHAR base[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    // Thread id, tick count and a counter keep parallel test programs apart.
    for (int attempt = 0; attempt < 100; ++attempt) {
        WString candidate = WString(base) + WIDE("selfex-") + Decimal(GetCurrentThreadId()) + WIDE("-") +
                            Decimal(GetTickCount()) + WIDE("-") + Decimal(g_TempDirCount++);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            m_Path = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return;
        }
    }
}

CTempDir::~CTempDir()
{
    if (!m_Path.empty()) {
        RemoveTree(m_Path);
    }
}

void RemoveTree(const WString &folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + WIDE("\\*")).c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const WString name = entry.cFileName;
            if (name == WIDE(".") || name == WIDE("..")) {
                continue;
            }
            const WString child = folder + WIDE("\\") + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void TempDirTest::SetUp()
{
    m_Dir = new CTempDir();
    ASSERT_FALSE(m_Dir->Path().empty()) << "no temporary folder could be created";
}

void TempDirTest::TearDown()
{
    delete m_Dir;
    m_Dir = nullptr;
}

bool WriteTextFile(const WString &path, const std::string &text)
{
    const int fd = _wopen(path.c_str(), _O_BINARY | _O_CREAT | _O_TRUNC | _O_WRONLY, _S_IREAD | _S_IWRITE);
    if (fd == -1) {
        return false;
    }
    const int written = _write(fd, text.data(), static_cast<unsigned>(text.size()));
    return _close(fd) == 0 && written == static_cast<int>(text.size());
}
