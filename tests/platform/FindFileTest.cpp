// Conformance of folder listing: FindFirstFileW, FindNextFileW, FindClose.
#include <algorithm>
#include <vector>

#include "tests/testlib/TempDir.h"

namespace {

class FindFileTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(WriteTextFile(In(WIDE("alpha.txt")), "12345"));
        ASSERT_TRUE(WriteTextFile(In(WIDE("beta.TXT")), ""));
        ASSERT_TRUE(WriteTextFile(In(WIDE("gamma.bin")), ""));
        ASSERT_TRUE(CreateDirectoryW(In(WIDE("sub")).c_str(), nullptr));
    }

    // Sorted names matching pattern in the test folder; {"!error N"} when
    // the search fails.
    std::vector<WString> List(const WString &pattern)
    {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(In(pattern).c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            const std::string text = "!error " + std::to_string(GetLastError());
            return {WString(text.begin(), text.end())};
        }
        std::vector<WString> names;
        do {
            names.push_back(entry.cFileName);
        } while (FindNextFileW(search, &entry));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_FILES});
        EXPECT_TRUE(FindClose(search));
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FindFileTest, WildcardsMatchNamesIgnoringCase)
{
    using Names = std::vector<WString>;
    EXPECT_EQ(List(WIDE("*")),
              (Names{WIDE("."), WIDE(".."), WIDE("alpha.txt"), WIDE("beta.TXT"), WIDE("gamma.bin"), WIDE("sub")}));
    EXPECT_EQ(List(WIDE("*.*")), List(WIDE("*")));
    EXPECT_EQ(List(WIDE("*.txt")), (Names{WIDE("alpha.txt"), WIDE("beta.TXT")}));
    EXPECT_EQ(List(WIDE("?amma.*")), (Names{WIDE("gamma.bin")}));
    EXPECT_EQ(List(WIDE("ALPHA.TXT")), (Names{WIDE("alpha.txt")}));
    EXPECT_EQ(List(WIDE("*.doc")), (Names{WIDE("!error 2")}));
    EXPECT_EQ(List(WIDE("missing\\*")), (Names{WIDE("!error 3")}));
}

TEST_F(FindFileTest, EntriesCarryAttributesAndSizes)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(In(WIDE("alpha.txt")).c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(entry.nFileSizeLow, 5u);
    EXPECT_EQ(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(FindClose(search));

    search = FindFirstFileW(In(WIDE("sub")).c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_NE(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(FindClose(search));
}

} // namespace
