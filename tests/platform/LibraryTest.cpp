// Conformance of library loading and of the module and folder look-ups:
// LoadLibraryW, GetProcAddress, FreeLibrary, GetModuleFileNameW,
// GetCurrentDirectoryW.
//
// The probe library is built beside this program: PlatformProbe.dll on
// Windows, libplatformprobe.so (the layer's name for PlatformProbe.dll)
// on POSIX.
#include <string>

#include "support/WideText.h"
#include "tests/platform/HostControl.h"
#include "tests/testlib/TempDir.h"

namespace {

typedef int (*ProbeAnswerFunction)(void);

bool IsFolder(const WCHAR *path)
{
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The part of path after its last backslash, in upper case.
WString UpperFileName(const WString &path)
{
    WString name = path.substr(path.find_last_of(WIDE('\\')) + 1);
    WideUpperAscii(&name[0]);
    return name;
}

TEST(Library, LoadsByAnyCaseAndFindsExports)
{
    for (const WCHAR *name : {WIDE("PlatformProbe.dll"), WIDE("PLATFORMPROBE.DLL"), WIDE("platformprobe")}) {
        HMODULE module = LoadLibraryW(name);
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        // Through void (*)(void), the cast GCC accepts between function types.
        auto answer = reinterpret_cast<ProbeAnswerFunction>(
            reinterpret_cast<void (*)(void)>(GetProcAddress(module, "ProbeAnswer")));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);

        SetLastError(0);
        EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});

        WCHAR path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
        ASSERT_GT(length, 0u);
        EXPECT_NE(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
        const WString fileName = UpperFileName(path);
        EXPECT_TRUE(fileName == WIDE("PLATFORMPROBE.DLL") || fileName == WIDE("LIBPLATFORMPROBE.SO"));
        EXPECT_TRUE(FreeLibrary(module));
    }
}

TEST(Library, MissingLibraryIsModNotFound)
{
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(WIDE("NoSuchLibrary.dll")), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
    EXPECT_FALSE(FreeLibrary(nullptr));
}

class LibraryPathTest : public TempDirTest {
protected:
    void TearDown() override
    {
        SetEnvironment("SELFEX_LIBRARY_PATH", nullptr);
        TempDirTest::TearDown();
    }

    // The temporary folder as a host path, for the environment variable.
    std::string HostDir()
    {
        std::string path;
        for (const WCHAR ch : Dir()) {
            path.push_back(ch == WIDE('\\') ? '/' : static_cast<char>(ch));
        }
        return path;
    }
};

TEST_F(LibraryPathTest, ConfiguredFolderReplacesTheSearch)
{
    if (!IsPosixLayer()) {
        GTEST_SKIP() << "SELFEX_LIBRARY_PATH is the POSIX layer's rule";
    }
    ASSERT_TRUE(SetEnvironment("SELFEX_LIBRARY_PATH", HostDir().c_str()));
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(WIDE("PlatformProbe.dll")), nullptr) << "found outside the configured folder";
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});

    // A file of the right name that is no library.
    ASSERT_TRUE(WriteTextFile(In(WIDE("libbroken.so")), "not an ELF file"));
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(WIDE("Broken.dll")), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_BAD_EXE_FORMAT});

    ASSERT_TRUE(SetEnvironment("SELFEX_LIBRARY_PATH", nullptr));
    HMODULE module = LoadLibraryW(WIDE("PlatformProbe.dll"));
    EXPECT_NE(module, nullptr);
    if (module != nullptr) {
        FreeLibrary(module);
    }
}

TEST(ModuleFileName, NamesThisProgramAndTruncatesWithAnError)
{
    WCHAR path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 8u);
    EXPECT_EQ(WideLength(path), length);
    EXPECT_NE(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
    const WString fileName = UpperFileName(path);
    EXPECT_EQ(fileName.compare(0, 14, WIDE("PLATFORM_TESTS")), 0);

    WCHAR small[8];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(WString(small, 7), WString(path, 7));
    // Windows since Vista terminates the cut text; Wine, like XP, does not.
    if (!RunningUnderWine()) {
        EXPECT_EQ(small[7], 0);
    }
}

TEST(CurrentDirectory, ReportsAFolderOrTheSizeNeeded)
{
    WCHAR path[MAX_PATH] = {};
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, DWORD{MAX_PATH});
    EXPECT_EQ(WideLength(path), length);
    EXPECT_TRUE(IsFolder(path));

    WCHAR small[2] = {WIDE('x'), WIDE('x')};
    EXPECT_EQ(GetCurrentDirectoryW(2, small), length + 1);
    EXPECT_EQ(small[0], WIDE('x')) << "a buffer that is too small stays untouched";
    EXPECT_EQ(GetCurrentDirectoryW(0, nullptr), length + 1);
}

} // namespace
