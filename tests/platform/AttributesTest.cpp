// Conformance of file attributes: what new files and folders report, the
// round trip of read-only, hidden, system and archive, and the extended
// look-up with sizes.
#include "tests/platform/HostControl.h"
#include "tests/testlib/TempDir.h"

namespace {

constexpr DWORD RO = FILE_ATTRIBUTE_READONLY;
constexpr DWORD HIDDEN = FILE_ATTRIBUTE_HIDDEN;
constexpr DWORD SYSTEM = FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD ARCHIVE = FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD FOUR_BITS = RO | HIDDEN | SYSTEM | ARCHIVE;

class AttributesTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        m_File = In(WIDE("file.txt"));
        ASSERT_TRUE(WriteTextFile(m_File, "0123456789"));
    }

    // Skips the test where the file system keeps no DOS attributes (no user
    // extended attributes): there only read-only can round-trip.
    bool StoresDosAttributes()
    {
        SetFileAttributesW(m_File.c_str(), HIDDEN);
        const bool stored = (GetFileAttributesW(m_File.c_str()) & HIDDEN) != 0;
        SetFileAttributesW(m_File.c_str(), FILE_ATTRIBUTE_NORMAL);
        return stored;
    }

    WString m_File;
};

TEST_F(AttributesTest, NewFileIsArchiveAndNewFolderIsDirectoryOnly)
{
    EXPECT_EQ(GetFileAttributesW(m_File.c_str()), ARCHIVE);
    ASSERT_TRUE(CreateDirectoryW(In(WIDE("sub")).c_str(), nullptr));
    EXPECT_EQ(GetFileAttributesW(In(WIDE("sub")).c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY});
}

TEST_F(AttributesTest, ReadOnlyRoundTripsOnEveryFileSystem)
{
    ASSERT_TRUE(SetFileAttributesW(m_File.c_str(), RO | ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(m_File.c_str()) & RO, RO);
    ASSERT_TRUE(SetFileAttributesW(m_File.c_str(), ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(m_File.c_str()) & RO, 0u);
    // Once writable again, the file takes new content.
    EXPECT_TRUE(WriteTextFile(m_File, "changed"));
}

TEST_F(AttributesTest, EveryCombinationOfTheFourBitsRoundTrips)
{
    if (!StoresDosAttributes()) {
        GTEST_SKIP() << "the file system refuses user extended attributes";
    }
    for (DWORD bits = 0; bits <= FOUR_BITS; ++bits) {
        if ((bits & ~FOUR_BITS) != 0) {
            continue;
        }
        // None of the four reads back as FILE_ATTRIBUTE_NORMAL on Windows.
        // Wine reports archive on every file whatever was set.
        DWORD expected = bits != 0 ? bits : DWORD{FILE_ATTRIBUTE_NORMAL};
        if (RunningUnderWine()) {
            expected = bits | ARCHIVE;
        }
        ASSERT_TRUE(SetFileAttributesW(m_File.c_str(), bits)) << "bits " << bits;
        EXPECT_EQ(GetFileAttributesW(m_File.c_str()), expected) << "bits " << bits;
    }
}

TEST_F(AttributesTest, BitsBeyondTheFourAreNotStored)
{
    if (!StoresDosAttributes()) {
        GTEST_SKIP() << "the file system refuses user extended attributes";
    }
    // 0x40, 0x80 and 0x100 are cabinet attribute bits, not file attributes
    // a caller can set; FILE_ATTRIBUTE_DIRECTORY is ignored on a file.
    ASSERT_TRUE(SetFileAttributesW(m_File.c_str(), HIDDEN | ARCHIVE | FILE_ATTRIBUTE_DIRECTORY | 0x40 | 0x100));
    EXPECT_EQ(GetFileAttributesW(m_File.c_str()), HIDDEN | ARCHIVE);
}

TEST_F(AttributesTest, FolderAttributesKeepTheDirectoryBit)
{
    const WString folder = In(WIDE("sub"));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    if (!StoresDosAttributes()) {
        GTEST_SKIP() << "the file system refuses user extended attributes";
    }
    ASSERT_TRUE(SetFileAttributesW(folder.c_str(), HIDDEN));
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    // A hidden folder still takes new files.
    EXPECT_TRUE(WriteTextFile(folder + WIDE("\\inside.txt"), "x"));
}

TEST_F(AttributesTest, ExtendedLookUpReportsSizeAndAttributes)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(m_File.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes, GetFileAttributesW(m_File.c_str()));
    EXPECT_EQ(data.nFileSizeLow, 10u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);

    ASSERT_TRUE(GetFileAttributesExW(Dir().c_str(), GetFileExInfoStandard, &data));
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

    SetLastError(0);
    EXPECT_FALSE(GetFileAttributesExW(In(WIDE("missing")).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

} // namespace
