// Guards folder creation before a run: missing parents are made top level
// first, and the climb to a parent always ends, whatever the path.
#include <gtest/gtest.h>

#include "app/EnsureFolder.h"
#include "tests/app/PathChecks.h"
#include "tests/testlib/TempDir.h"

namespace {

TEST(EnsureFolder, CreatesMissingParentsFromTheTop)
{
    CTempDir temp;
    // Without a trailing backslash every level is made and the result is true.
    EXPECT_TRUE(EnsureFolder((temp / L"a\\b\\c").c_str()));
    EXPECT_TRUE(FolderExists(temp / L"a\\b\\c"));

    // The usual target ends in a backslash: its own first climb creates the
    // folder, so the last attempt finds it there and reports false, while
    // the folder exists all the same.
    EXPECT_FALSE(EnsureFolder((temp / L"x\\y\\z\\").c_str()));
    EXPECT_TRUE(FolderExists(temp / L"x\\y\\z"));
}

TEST(EnsureFolder, AcceptsAnExistingFolderAtOnce)
{
    CTempDir temp;
    EXPECT_TRUE(EnsureFolder(temp.Path().c_str()));
    EXPECT_TRUE(EnsureFolder((temp.Path() + L"\\").c_str()));
}

TEST(EnsureFolder, FailsBelowAFileWithoutCreatingAnything)
{
    CTempDir temp;
    HANDLE file =
        CreateFileW((temp / L"file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    EXPECT_FALSE(EnsureFolder((temp / L"file\\sub\\").c_str()));
    EXPECT_FALSE(FolderExists(temp / L"file\\sub"));
    EXPECT_TRUE(FileExists(temp / L"file"));
}

TEST(EnsureFolder, StopsWhereTheParentIsThePathItself)
{
    // Each of these would climb to itself forever; a stack overflow would
    // end the test program.
    CTempDir temp;
    EXPECT_FALSE(EnsureFolder((temp / L"missing\\end/").c_str()));
    EXPECT_FALSE(FolderExists(temp / L"missing"));

    // A drive letter that names no drive.
    wchar_t drive[] = L"Q:\\a\\b\\";
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        drive[0] = letter;
        wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR) {
            break;
        }
    }
    EXPECT_FALSE(EnsureFolder(drive)) << drive;
}

TEST(EnsureFolder, FailsForAPathLongerThanItCanClimb)
{
    CTempDir temp;
    std::wstring deep = temp / (std::wstring(150, L'd') + L"\\" + std::wstring(150, L'e') + L"\\");
    EXPECT_FALSE(EnsureFolder(deep.c_str()));
}

} // namespace
