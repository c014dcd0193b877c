// Path helpers: AppendBackslash, StripBackslash, SplitPath and IsDirectory.
#include <string>

#include "support/PathUtil.h"
#include "tests/testlib/TempDir.h"

namespace {

TEST(AppendBackslash, AddsOneBackslashToTextsOfTwoOrMore)
{
    struct Case {
        const WCHAR *text;
        const WCHAR *expected;
    } cases[] = {
        {WIDE(""), WIDE("")},       {WIDE("C"), WIDE("C")},         {WIDE("\\"), WIDE("\\")},
        {WIDE("C:"), WIDE("C:\\")}, {WIDE("C:\\"), WIDE("C:\\")},   {WIDE("dir\\sub"), WIDE("dir\\sub\\")},
        {WIDE("a/"), WIDE("a/\\")}, {WIDE("a\\\\"), WIDE("a\\\\")},
    };
    for (const Case &c : cases) {
        CStrBufW path(c.text);
        AppendBackslash(path);
        EXPECT_EQ(WString(path.Data), WString(c.expected)) << "length " << WString(c.text).size();
    }
}

TEST(StripBackslash, RemovesAtMostOneFromTextsOfTwoOrMore)
{
    struct Case {
        const WCHAR *text;
        const WCHAR *expected;
    } cases[] = {
        {WIDE(""), WIDE("")},       {WIDE("\\"), WIDE("\\")}, {WIDE("C:\\"), WIDE("C:")}, {WIDE("a\\\\"), WIDE("a\\")},
        {WIDE("dir"), WIDE("dir")}, {WIDE("a/"), WIDE("a/")}, {WIDE("\\\\"), WIDE("\\")},
    };
    for (const Case &c : cases) {
        WString text = c.text;
        text.push_back(WIDE('#')); // a guard behind the terminator
        text[text.size() - 1] = 0;
        StripBackslash(&text[0]);
        EXPECT_EQ(WString(text.c_str()), WString(c.expected));
    }
}

TEST(SplitPath, CutsAtTheLastBackslashOnly)
{
    struct Case {
        const WCHAR *path;
        const WCHAR *directory;
        const WCHAR *name;
    } cases[] = {
        {WIDE("C:\\dir\\file.cab"), WIDE("C:\\dir\\"), WIDE("file.cab")},
        {WIDE("file.cab"), WIDE(""), WIDE("file.cab")},
        {WIDE("C:\\dir\\"), WIDE("C:\\dir\\"), WIDE("")},
        {WIDE("\\root"), WIDE("\\"), WIDE("root")},
        {WIDE("dir/file.cab"), WIDE(""), WIDE("dir/file.cab")}, // a slash is an ordinary character
        {WIDE("a\\b/c"), WIDE("a\\"), WIDE("b/c")},
        {WIDE(""), WIDE(""), WIDE("")},
    };
    for (const Case &c : cases) {
        CStrBufW path(c.path);
        CStrBufW directory(WIDE("old directory"));
        CStrBufW name(WIDE("old name"));
        SplitPath(path, &directory, &name);
        EXPECT_EQ(WString(directory.Data), WString(c.directory));
        EXPECT_EQ(WString(name.Data), WString(c.name));
        EXPECT_EQ(WString(path.Data), WString(c.path)) << "the path is left alone";
    }
}

TEST(SplitPath, FillsOnlyTheOutputsGiven)
{
    CStrBufW path(WIDE("C:\\dir\\file.cab"));
    CStrBufW directory;
    SplitPath(path, &directory, nullptr);
    EXPECT_EQ(WString(directory.Data), WIDE("C:\\dir\\"));
    CStrBufW name;
    SplitPath(path, nullptr, &name);
    EXPECT_EQ(WString(name.Data), WIDE("file.cab"));
}

TEST(SplitPath, PathWithoutTerminatorThrows)
{
    CStrBufW path(WIDE("a\\b"));
    for (uint32_t i = 0; i < path.Capacity; ++i) {
        path.Data[i] = WIDE('\\');
    }
    CStrBufW name;
    EXPECT_THROW(SplitPath(path, nullptr, &name), const char *);
}

class IsDirectoryTest : public TempDirTest {};

TEST_F(IsDirectoryTest, OnlyExistingFoldersCount)
{
    ASSERT_TRUE(WriteTextFile(In(WIDE("file.txt")), "x"));
    EXPECT_EQ(IsDirectory(Dir().c_str()), 1);
    EXPECT_EQ(IsDirectory((Dir() + WIDE("\\")).c_str()), 1);
    EXPECT_EQ(IsDirectory(In(WIDE("file.txt")).c_str()), 0);
    EXPECT_EQ(IsDirectory(In(WIDE("missing")).c_str()), 0);
    EXPECT_EQ(IsDirectory(WIDE("")), 0);
}

} // namespace
