// IsSafeStoredName: stored names that could leave the destination folder, or
// that name a device, are refused; ordinary names, however odd, pass.
#include <gtest/gtest.h>

#include "cabinet/NameCheck.h"
#include "tests/cabinet/WideTestText.h"

using Cabinet::IsSafeStoredName;

namespace {

struct NameCase {
    const WCHAR *name;
    bool safe;
    const char *why;
};

const NameCase NAME_CASES[] = {
    // Ordinary relative names.
    {WIDE("a.txt"), true, "plain file name"},
    {WIDE("dir\\sub\\b.txt"), true, "nested levels"},
    {WIDE("a\\"), true, "a trailing separator is left to the open, which fails"},
    {WIDE(".hidden"), true, "leading dot"},
    {WIDE("..a"), true, "dots before a name"},
    {WIDE("a..b"), true, "dots inside a name"},
    {WIDE("a."), true, "trailing dot after a name"},
    {WIDE("a b\\c d"), true, "spaces inside names"},
    {WIDE("r\u00E9sum\u00E9"), true, "non-ASCII"},
    {WIDE("\uFFFD\uFFFDabsolute\uFFFD\uFFFDpath2b"), true, "overlong '/' decoded to U+FFFD"},
    {WIDE("CONSOLE.txt"), true, "device name as a prefix only"},
    {WIDE("COM10"), true, "COM with two digits"},
    {WIDE("LPT0"), true, "LPT0 is no device"},
    {WIDE("COM"), true, "COM without digit"},
    {WIDE("nul_"), true, "device name plus a character"},
    {WIDE("x\\CONx\\y"), true, "device name prefix in a directory"},
    // Absolute names and prefixes.
    {WIDE(""), false, "empty name"},
    {WIDE("\\"), false, "lone separator"},
    {WIDE("\\abs"), false, "root-relative"},
    {WIDE("\\\\server\\share\\f"), false, "UNC prefix"},
    {WIDE("\\\\?\\C:\\f"), false, "long-path prefix"},
    // Colons: drives and streams.
    {WIDE("C:x"), false, "drive-relative"},
    {WIDE("C:\\x"), false, "drive-absolute"},
    {WIDE("a.txt:Zone.Identifier"), false, "alternate data stream"},
    {WIDE("dir::$INDEX_ALLOCATION"), false, "stream type"},
    // Empty and dot levels.
    {WIDE("a\\\\b"), false, "doubled separator"},
    {WIDE("a\\\\"), false, "doubled trailing separator"},
    {WIDE("."), false, "current directory"},
    {WIDE(".."), false, "parent directory"},
    {WIDE("..\\x"), false, "leading parent level"},
    {WIDE("a\\..\\..\\b"), false, "parent levels inside"},
    {WIDE("a\\."), false, "final current-directory level"},
    {WIDE("a\\.."), false, "final parent level"},
    {WIDE("a\\..\\"), false, "parent level before a trailing separator"},
    {WIDE("..."), false, "dots only: Windows drops trailing dots"},
    {WIDE(". ."), false, "dots and spaces only"},
    {WIDE(" "), false, "space only"},
    // Devices, any case, with or without extension, at any level.
    {WIDE("CON"), false, "CON"},
    {WIDE("con"), false, "lower case"},
    {WIDE("Con.txt"), false, "with extension"},
    {WIDE("NUL.tar.gz"), false, "with two extensions"},
    {WIDE("CON .log"), false, "spaces before the extension"},
    {WIDE("aux"), false, "AUX"},
    {WIDE("prn."), false, "PRN with a trailing dot"},
    {WIDE("COM1"), false, "COM1"},
    {WIDE("com9.txt"), false, "COM9 with extension"},
    {WIDE("LPT5"), false, "LPT5"},
    {WIDE("dir\\NUL\\x"), false, "device as a directory level"},
    {WIDE("x\\lpt1"), false, "device as the last level"},
};

} // namespace

TEST(IsSafeStoredName, RefusesEscapesAndDevicesOnly)
{
    for (const NameCase &c : NAME_CASES) {
        EXPECT_EQ(IsSafeStoredName(c.name), c.safe) << Narrow(c.name) << " (" << c.why << ")";
    }
}
