// The name rule: which rule each stored name, set member name and output
// path breaks; ordinary names, however odd, pass. And the case folding
// that decides which names are one on Windows.
#include <gtest/gtest.h>

#include <string>

#include "cabinet/CaseFold.h"
#include "cabinet/NameCheck.h"
#include "tests/cabinet/WideTestText.h"

using Cabinet::NameRule;

namespace {

struct NameCase {
    const WCHAR *name;
    NameRule rule;
    const char *why;
};

const NameCase NAME_CASES[] = {
    // Ordinary relative names.
    {WIDE("a.txt"), NameRule::Accepted, "plain file name"},
    {WIDE("dir\\sub\\b.txt"), NameRule::Accepted, "nested levels"},
    {WIDE("dir/sub\\b.txt"), NameRule::Accepted, "either separator"},
    {WIDE("a\\"), NameRule::Accepted, "a trailing separator is left to the open, which fails"},
    {WIDE(".hidden"), NameRule::Accepted, "leading dot"},
    {WIDE("..a"), NameRule::Accepted, "dots before a name"},
    {WIDE("a..b"), NameRule::Accepted, "dots inside a name"},
    {WIDE("a b\\c d"), NameRule::Accepted, "spaces inside names"},
    {WIDE("r\u00E9sum\u00E9"), NameRule::Accepted, "non-ASCII"},
    {WIDE("\uFFFDx"), NameRule::Accepted, "a replacement character stored as such"},
    {WIDE("CONSOLE.txt"), NameRule::Accepted, "device name as a prefix only"},
    {WIDE("COM10"), NameRule::Accepted, "COM with two digits"},
    {WIDE("COM\u2074"), NameRule::Accepted, "superscript 4 is no device digit"},
    {WIDE("COM"), NameRule::Accepted, "COM without digit"},
    {WIDE("nul_"), NameRule::Accepted, "device name plus a character"},
    {WIDE("CONIN$x"), NameRule::Accepted, "console name plus a character"},
    {WIDE("x\\CONx\\y"), NameRule::Accepted, "device name prefix in a directory"},
    // Absolute names and prefixes.
    {WIDE(""), NameRule::EmptyLevel, "empty name"},
    {WIDE("\\"), NameRule::Absolute, "lone separator"},
    {WIDE("/abs"), NameRule::Absolute, "root-relative"},
    {WIDE("\\\\server\\share\\f"), NameRule::Absolute, "UNC prefix"},
    {WIDE("\\\\?\\C:\\f"), NameRule::Absolute, "long-path prefix"},
    // Colons: drives and streams.
    {WIDE("C:x"), NameRule::Colon, "drive-relative"},
    {WIDE("C:\\x"), NameRule::Colon, "drive-absolute"},
    {WIDE("a.txt:Zone.Identifier"), NameRule::Colon, "alternate data stream"},
    {WIDE("dir::$INDEX_ALLOCATION"), NameRule::Colon, "stream type"},
    // Empty and dot levels.
    {WIDE("a\\\\b"), NameRule::EmptyLevel, "doubled separator"},
    {WIDE("a\\\\"), NameRule::EmptyLevel, "doubled trailing separator"},
    {WIDE("."), NameRule::DotLevel, "current directory"},
    {WIDE("..\\x"), NameRule::DotLevel, "leading parent level"},
    {WIDE("a\\..\\..\\b"), NameRule::DotLevel, "parent levels inside"},
    {WIDE("a\\.."), NameRule::DotLevel, "final parent level"},
    {WIDE("a\\..\\"), NameRule::DotLevel, "parent level before a trailing separator"},
    // Characters Windows forbids, and what it strips.
    {WIDE("tab\there"), NameRule::ControlCharacter, "control character"},
    {WIDE("dir\\\x1B[31m"), NameRule::ControlCharacter, "escape sequence"},
    {WIDE("unit\x1Fsep"), NameRule::ControlCharacter, "the last control character, 0x1F"},
    {WIDE("what?"), NameRule::ReservedCharacter, "wildcard"},
    {WIDE("a<b"), NameRule::ReservedCharacter, "redirection"},
    {WIDE("q\"uote"), NameRule::ReservedCharacter, "quote"},
    {WIDE("setup.exe."), NameRule::TrailingDotOrSpace, "trailing dot, dropped on creation"},
    {WIDE("dir \\x"), NameRule::TrailingDotOrSpace, "trailing space on a folder"},
    {WIDE("..."), NameRule::TrailingDotOrSpace, "dots only"},
    {WIDE(" "), NameRule::TrailingDotOrSpace, "space only"},
    // Devices, any case, with or without extension, at any level.
    {WIDE("CON"), NameRule::DeviceName, "CON"},
    {WIDE("con"), NameRule::DeviceName, "lower case"},
    {WIDE("NUL.tar.gz"), NameRule::DeviceName, "with two extensions"},
    {WIDE("CON .log"), NameRule::DeviceName, "spaces before the extension"},
    {WIDE("aux"), NameRule::DeviceName, "AUX"},
    {WIDE("Prn.txt"), NameRule::DeviceName, "PRN with extension"},
    {WIDE("COM0"), NameRule::DeviceName, "COM0"},
    {WIDE("lpt0.x"), NameRule::DeviceName, "LPT0"},
    {WIDE("com9.txt"), NameRule::DeviceName, "COM9 with extension"},
    {WIDE("COM\u00B9"), NameRule::DeviceName, "COM superscript one"},
    {WIDE("lpt\u00B2.log"), NameRule::DeviceName, "LPT superscript two"},
    {WIDE("LPT\u00B3"), NameRule::DeviceName, "LPT superscript three"},
    {WIDE("CONIN$"), NameRule::DeviceName, "console input"},
    {WIDE("conout$.txt"), NameRule::DeviceName, "console output, any case and extension"},
    {WIDE("dir\\NUL\\x"), NameRule::DeviceName, "device as a directory level"},
};

} // namespace

TEST(NameRule, StoredNamesBreakTheRuleTheyShould)
{
    for (const NameCase &c : NAME_CASES) {
        EXPECT_EQ(Cabinet::CheckStoredName(c.name), c.rule) << Narrow(c.name) << " (" << c.why << ")";
    }
}

TEST(NameRule, LevelsAndOutputPathsHaveWindowsLimits)
{
    const std::basic_string<WCHAR> longest(Cabinet::MAX_NAME_LEVEL, WIDE('a'));
    EXPECT_EQ(Cabinet::CheckStoredName(longest.c_str()), NameRule::Accepted);
    EXPECT_EQ(Cabinet::CheckStoredName((longest + WIDE("a")).c_str()), NameRule::LevelTooLong);
    // A file path of 259 units fits, 260 does not; a folder path of 247
    // units fits, 248 does not.
    const std::basic_string<WCHAR> file(9, WIDE('f'));
    EXPECT_EQ(Cabinet::CheckOutputPath(250, file.c_str()), NameRule::Accepted);
    EXPECT_EQ(Cabinet::CheckOutputPath(251, file.c_str()), NameRule::PathTooLong);
    const std::basic_string<WCHAR> inFolder = std::basic_string<WCHAR>(7, WIDE('d')) + WIDE("\\f");
    EXPECT_EQ(Cabinet::CheckOutputPath(240, inFolder.c_str()), NameRule::Accepted);
    EXPECT_EQ(Cabinet::CheckOutputPath(241, inFolder.c_str()), NameRule::PathTooLong);
}

TEST(NameRule, SetMembersArePlainFileNames)
{
    EXPECT_EQ(Cabinet::CheckSetMemberName(WIDE("disk2.cab")), NameRule::Accepted);
    EXPECT_EQ(Cabinet::CheckSetMemberName(WIDE("../../victim")), NameRule::Separator);
    EXPECT_EQ(Cabinet::CheckSetMemberName(WIDE("..")), NameRule::DotLevel);
    EXPECT_EQ(Cabinet::CheckSetMemberName(WIDE("sub\\disk2.cab")), NameRule::Separator);
    EXPECT_EQ(Cabinet::CheckSetMemberName(WIDE("/etc/passwd")), NameRule::Separator);
    EXPECT_EQ(Cabinet::CheckSetMemberName(WIDE("C:x.cab")), NameRule::Colon);
    EXPECT_EQ(Cabinet::CheckSetMemberName(WIDE("")), NameRule::EmptyLevel);
}

// Simple case folding, as NTFS compares names, well beyond ASCII.
TEST(CaseFold, FoldsLettersOfEveryScriptOneUnitAtATime)
{
    const struct {
        WCHAR upper, lower;
    } pairs[] = {{WIDE('A'), WIDE('a')}, {0x00C4, 0x00E4}, {0x0100, 0x0101}, {0x0178, 0x00FF},    {0x0391, 0x03B1},
                 {0x0410, 0x0430},       {0x0400, 0x0450}, {0x10A0, 0x2D00}, {0x212A, WIDE('k')}, {0xFF21, 0xFF41}};
    for (const auto &p : pairs) {
        EXPECT_EQ(Cabinet::FoldCase(p.upper), p.lower) << std::hex << static_cast<unsigned>(p.upper);
        EXPECT_EQ(Cabinet::FoldCase(p.lower), p.lower) << std::hex << static_cast<unsigned>(p.lower);
    }
    // Without a folding: digits, CJK, a surrogate half, and the odd member
    // of an alternating run.
    for (const WCHAR ch :
         {WIDE('7'), static_cast<WCHAR>(0x4E2D), static_cast<WCHAR>(0xD801), static_cast<WCHAR>(0x0131)}) {
        EXPECT_EQ(Cabinet::FoldCase(ch), ch) << std::hex << static_cast<unsigned>(ch);
    }
}
