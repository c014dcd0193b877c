// Conformance of folder creation and removal, deletion, attribute look-ups
// and path forms: the Win32 error codes callers branch on.
#include <cerrno>

#include "tests/platform/HostControl.h"
#include "tests/testlib/TempDir.h"

namespace {

class FileSystemTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(WriteTextFile(In(WIDE("file.txt")), "content"));
        ASSERT_TRUE(CreateDirectoryW(In(WIDE("folder")).c_str(), nullptr));
    }

    bool IsFolder(const WString &path)
    {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
};

// A path and the error a call on it must fail with.
struct ErrorCase {
    const char *what;
    WString path;
    DWORD expected;
};

// Runs one call that must fail and checks the last error it leaves.
::testing::AssertionResult FailsWith(BOOL result, DWORD expected)
{
    const DWORD error = GetLastError();
    if (result) {
        return ::testing::AssertionFailure() << "succeeded, expected error " << expected;
    }
    if (error != expected) {
        return ::testing::AssertionFailure() << "error " << error << ", expected " << expected;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(FileSystemTest, CreateDirectoryReportsWhyALevelCannotBeMade)
{
    EXPECT_TRUE(CreateDirectoryW(In(WIDE("new")).c_str(), nullptr));
    EXPECT_TRUE(IsFolder(In(WIDE("new"))));
    EXPECT_TRUE(CreateDirectoryW(In(WIDE("with-backslash\\")).c_str(), nullptr));
    EXPECT_TRUE(IsFolder(In(WIDE("with-backslash"))));

    const ErrorCase cases[] = {
        {"existing folder", In(WIDE("folder")), ERROR_ALREADY_EXISTS},
        {"existing folder, trailing backslash", In(WIDE("folder\\")), ERROR_ALREADY_EXISTS},
        {"existing file", In(WIDE("file.txt")), ERROR_ALREADY_EXISTS},
        {"existing file, trailing backslash", In(WIDE("file.txt\\")), ERROR_ALREADY_EXISTS},
        {"missing parent", In(WIDE("missing\\sub")), ERROR_PATH_NOT_FOUND},
        {"parent is a file", In(WIDE("file.txt\\sub")), ERROR_PATH_NOT_FOUND},
        {"empty path", WIDE(""), ERROR_PATH_NOT_FOUND},
        // No drive Q: exists here (POSIX has no drives at all).
        {"root of a missing drive", WIDE("Q:\\"), ERROR_PATH_NOT_FOUND},
        {"below a missing drive", WIDE("Q:\\x\\y"), ERROR_PATH_NOT_FOUND},
    };
    for (const ErrorCase &c : cases) {
        EXPECT_TRUE(FailsWith(CreateDirectoryW(c.path.c_str(), nullptr), c.expected)) << c.what;
    }
}

TEST_F(FileSystemTest, AttributeLookupsTellMissingFileFromMissingPath)
{
    const ErrorCase cases[] = {
        {"missing file", In(WIDE("missing.txt")), ERROR_FILE_NOT_FOUND},
        {"missing folder", In(WIDE("missing\\x.txt")), ERROR_PATH_NOT_FOUND},
        {"below a file", In(WIDE("file.txt\\x")), ERROR_PATH_NOT_FOUND},
        {"empty path", WIDE(""), ERROR_PATH_NOT_FOUND},
        {"drive root", WIDE("Q:"), ERROR_PATH_NOT_FOUND},
        {"below a missing drive", WIDE("Q:\\x\\y"), ERROR_PATH_NOT_FOUND},
    };
    for (const ErrorCase &c : cases) {
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesW(c.path.c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
        EXPECT_EQ(GetLastError(), c.expected) << c.what;
        EXPECT_TRUE(FailsWith(SetFileAttributesW(c.path.c_str(), FILE_ATTRIBUTE_NORMAL), c.expected)) << c.what;
    }
}

TEST_F(FileSystemTest, FileNamedAsAFolderIsAnInvalidNameToOpen)
{
    // Attribute queries find no such folder; every call that opens the
    // object calls the name itself invalid.
    const WString path = In(WIDE("file.txt\\"));
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_TRUE(FailsWith(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data), ERROR_PATH_NOT_FOUND));

    EXPECT_TRUE(FailsWith(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL), ERROR_INVALID_NAME));
    EXPECT_TRUE(FailsWith(DeleteFileW(path.c_str()), ERROR_INVALID_NAME));
    EXPECT_TRUE(FailsWith(RemoveDirectoryW(path.c_str()), ERROR_INVALID_NAME));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_TRUE(FailsWith(file != INVALID_HANDLE_VALUE, ERROR_INVALID_NAME));
    errno = 0;
    EXPECT_EQ(_wopen(path.c_str(), _O_BINARY | _O_RDONLY, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_NAME});
    EXPECT_NE(GetFileAttributesW(In(WIDE("file.txt")).c_str()), INVALID_FILE_ATTRIBUTES) << "the file stays";
}

TEST_F(FileSystemTest, DeleteFileRefusesFoldersAndReadOnlyFiles)
{
    EXPECT_TRUE(FailsWith(DeleteFileW(In(WIDE("folder")).c_str()), ERROR_ACCESS_DENIED));
    EXPECT_TRUE(FailsWith(DeleteFileW(In(WIDE("missing.txt")).c_str()), ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(FailsWith(DeleteFileW(In(WIDE("missing\\x.txt")).c_str()), ERROR_PATH_NOT_FOUND));

    ASSERT_TRUE(SetFileAttributesW(In(WIDE("file.txt")).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(FailsWith(DeleteFileW(In(WIDE("file.txt")).c_str()), ERROR_ACCESS_DENIED));
    EXPECT_NE(GetFileAttributesW(In(WIDE("file.txt")).c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(SetFileAttributesW(In(WIDE("file.txt")).c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileW(In(WIDE("file.txt")).c_str()));
    EXPECT_EQ(GetFileAttributesW(In(WIDE("file.txt")).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileSystemTest, RemoveDirectoryOnlyRemovesEmptyFolders)
{
    ASSERT_TRUE(WriteTextFile(In(WIDE("folder\\inside.txt")), "x"));
    EXPECT_TRUE(FailsWith(RemoveDirectoryW(In(WIDE("folder")).c_str()), ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(FailsWith(RemoveDirectoryW(In(WIDE("file.txt")).c_str()), ERROR_DIRECTORY));
    EXPECT_TRUE(FailsWith(RemoveDirectoryW(In(WIDE("missing")).c_str()), ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(FailsWith(RemoveDirectoryW(In(WIDE("missing\\x")).c_str()), ERROR_PATH_NOT_FOUND));

    ASSERT_TRUE(DeleteFileW(In(WIDE("folder\\inside.txt")).c_str()));
    EXPECT_TRUE(RemoveDirectoryW(In(WIDE("folder")).c_str()));
    EXPECT_FALSE(IsFolder(In(WIDE("folder"))));
}

TEST_F(FileSystemTest, PathsAreNormalisedLikeWin32)
{
    struct Case {
        const char *what;
        WString alias; // another spelling of the file "file.txt"
    } cases[] = {
        {"slash separators", Dir() + WIDE("/file.txt")},
        {"doubled separators", Dir() + WIDE("\\\\file.txt")},
        {"dot level", Dir() + WIDE("\\.\\file.txt")},
        {"parent of a missing folder", Dir() + WIDE("\\no-such-folder\\..\\file.txt")},
        {"trailing dots and spaces", Dir() + WIDE("\\file.txt. .")},
        {"one trailing dot on a folder level", Dir() + WIDE("\\folder.\\..\\file.txt")},
    };
    for (const Case &c : cases) {
        const DWORD attributes = GetFileAttributesW(c.alias.c_str());
        EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << c.what << ": error " << GetLastError();
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << c.what;
    }
}

TEST_F(FileSystemTest, OnlyTheLastLevelLosesAllTrailingDotsAndSpaces)
{
    ASSERT_TRUE(WriteTextFile(In(WIDE("folder\\in.txt")), "x"));
    struct Case {
        const char *what;
        WString path;
        bool found;
    } cases[] = {
        {"dots and spaces after the last name", In(WIDE("folder. .")), true},
        {"one dot after a folder level", In(WIDE("folder.\\in.txt")), true},
        {"two dots after a folder level", In(WIDE("folder..\\in.txt")), false},
        {"a space after a folder level", In(WIDE("folder \\in.txt")), false},
        {"only dots as the last level: the folder itself", In(WIDE("folder\\...")), true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(GetFileAttributesW(c.path.c_str()) != INVALID_FILE_ATTRIBUTES, c.found) << c.what;
    }
    // Trailing spaces of the last level are dropped when creating too.
    ASSERT_TRUE(CreateDirectoryW(In(WIDE("spaced  ")).c_str(), nullptr));
    EXPECT_NE(GetFileAttributesW(In(WIDE("spaced")).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileSystemTest, NamesWithCharactersWindowsForbidsAreRefused)
{
    for (const WString name : {WIDE("a<b"), WIDE("a>b"), WIDE("a|b"), WIDE("a\"b"), WIDE("a?b"), WIDE("a*b")}) {
        EXPECT_TRUE(FailsWith(CreateDirectoryW(In(name).c_str(), nullptr), ERROR_INVALID_NAME));
    }
}

TEST_F(FileSystemTest, TempPathIsAnExistingFolderEndingInABackslash)
{
    WCHAR path[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, path);
    ASSERT_GT(length, 1u);
    ASSERT_LT(length, DWORD{MAX_PATH});
    EXPECT_EQ(path[length - 1], WIDE('\\'));
    EXPECT_TRUE(IsFolder(path));
    WCHAR small[2] = {WIDE('x'), WIDE('x')};
    EXPECT_EQ(GetTempPathW(2, small), length + 1) << "too small: the size needed, terminator included";
}

} // namespace
