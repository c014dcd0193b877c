// The wide-text helpers that replace the wcs* functions.
#include <gtest/gtest.h>

#include <string>

#include "support/WideText.h"

namespace {

using WString = std::basic_string<WCHAR>;

TEST(WideCopy, TruncatesToFitAndAlwaysTerminates)
{
    struct Case {
        size_t size;
        bool fits;
        const WCHAR *expected;
    } cases[] = {{6, true, WIDE("hello")}, {9, true, WIDE("hello")}, {5, false, WIDE("hell")}, {1, false, WIDE("")}};
    for (const Case &c : cases) {
        WCHAR target[10];
        for (WCHAR &ch : target) {
            ch = WIDE('#');
        }
        EXPECT_EQ(WideCopy(target, c.size, WIDE("hello")), c.fits) << "size " << c.size;
        EXPECT_EQ(WString(target), WString(c.expected)) << "size " << c.size;
        EXPECT_EQ(target[c.size], WIDE('#')) << "wrote beyond size " << c.size;
    }
    WCHAR untouched[1] = {WIDE('#')};
    EXPECT_FALSE(WideCopy(untouched, 0, WIDE("x")));
    EXPECT_EQ(untouched[0], WIDE('#'));
}

TEST(WideCompare, OrdersByCodeUnitAndFoldsAsciiOnly)
{
    EXPECT_EQ(WideCompare(WIDE("abc"), WIDE("abc")), 0);
    EXPECT_LT(WideCompare(WIDE("ab"), WIDE("abc")), 0);
    EXPECT_GT(WideCompare(WIDE("b"), WIDE("abc")), 0);
    EXPECT_GT(WideCompare(WIDE("\u00E9"), WIDE("z")), 0) << "code units compare unsigned";
    EXPECT_NE(WideCompare(WIDE("ABC"), WIDE("abc")), 0);

    EXPECT_EQ(WideCompareNoCase(WIDE("MEMORY\\"), WIDE("memory\\")), 0);
    EXPECT_EQ(WideCompareNoCase(WIDE("MeMoRy"), WIDE("mEmOrY")), 0);
    EXPECT_LT(WideCompareNoCase(WIDE("a"), WIDE("B")), 0);
    EXPECT_NE(WideCompareNoCase(WIDE("\u00C9"), WIDE("\u00E9")), 0) << "only ASCII letters fold";
    EXPECT_NE(WideCompareNoCase(WIDE("["), WIDE("{")), 0) << "'[' and '{' are 0x20 apart but not letters";
}

TEST(WideFindLast, FindsTheLastOccurrence)
{
    const WCHAR *text = WIDE("a\\b\\c");
    EXPECT_EQ(WideFindLast(text, WIDE('\\')), text + 3);
    EXPECT_EQ(WideFindLast(text, WIDE('a')), text);
    EXPECT_EQ(WideFindLast(text, WIDE('/')), nullptr);
    EXPECT_EQ(WideFindLast(text, 0), text + 5);
    EXPECT_EQ(WideFindLast(WIDE(""), WIDE('x')), nullptr);
}

TEST(WideUpperAscii, RaisesOnlyAsciiLetters)
{
    WCHAR text[] = WIDE("abz-AZ_\u00E9{");
    WideUpperAscii(text);
    EXPECT_EQ(WString(text), WIDE("ABZ-AZ_\u00E9{"));
    EXPECT_EQ(WideLength(text), 9u);
}

} // namespace
