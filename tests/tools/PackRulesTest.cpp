// The rules pack applies before writing: stored names, name collisions, the
// stub's layout and the header search, MS-DOS time limits, UTF-8 validity,
// the option syntax, name patterns, and the progress line's fit.
#include <gtest/gtest.h>

#include <vector>

#include "tools/ArgParser.h"
#include "tools/InputScan.h"
#include "tools/ListFormat.h"
#include "tools/NamePattern.h"
#include "tools/PackageLayout.h"
#include "tools/PrintableText.h"
#include "tools/ProgressLine.h"
#include "tools/StoredName.h"
#include "tools/TextConv.h"
#include "tests/tools/ToolTest.h"

using namespace Selfex;

TEST(StoredName, RefusesWhatWindowsCannotCreateOrTheExtractorRefuses)
{
    struct Case {
        const char *Component;
        const char *Problem; // empty: storable
    } cases[] = {
        {"readme.txt", ""},
        {".hidden", ""},
        {"caf\xC3\xA9 \xE2\x98\x95", ""},
        {"CONSOLE.txt", ""}, // only the exact device names are reserved
        {"COM10", ""},
        {"nul.tar.gz", "device name"},
        {"Aux", "device name"},
        {"lpt9.log", "device name"},
        {"COM\xC2\xB9", "device name"},
        {"LPT\xC2\xB3.txt", "device name"},
        {"con .txt", "device name"},
        {"CONIN$", "device name"},
        {"conout$.log", "device name"},
        {"COM0", "device name"},
        {"lpt0", "device name"},
        {"", "empty"},
        {".", "\".\" or \"..\""},
        {"..", "\".\" or \"..\""},
        {"a:b", "the character ':'"},
        {"a\\b", "the character '\\'"},
        {"what?", "the character '?'"},
        {"pipe|", "the character '|'"},
        {"tab\there", "control character"},
        {"trailing.", "trailing dot"},
        {"trailing ", "trailing dot or space"},
        {"bad\xC3(", "not valid UTF-8"},
    };
    for (const Case &c : cases) {
        std::string problem = StoredComponentProblem(c.Component);
        if (c.Problem[0] == 0) {
            EXPECT_EQ(problem, "") << c.Component;
        } else {
            EXPECT_NE(problem.find(c.Problem), std::string::npos) << c.Component << ": " << problem;
        }
    }
}

TEST(StoredName, SetRefusesNamesThatCollideOnWindows)
{
    CStoredNameSet names;
    std::string clash;
    EXPECT_TRUE(names.Add("docs\\a.txt", clash));
    EXPECT_TRUE(names.Add("Docs\\b.txt", clash)) << "folders merge whatever their case";
    EXPECT_TRUE(names.Add("docs\\sub\\c.txt", clash));
    EXPECT_FALSE(names.Add("DOCS\\A.TXT", clash));
    EXPECT_EQ(clash, "docs\\a.txt");
    EXPECT_FALSE(names.Add("docs\\sub", clash)) << "a file where a folder is";
    EXPECT_EQ(clash, "docs\\sub");
    EXPECT_FALSE(names.Add("docs\\a.txt\\inner", clash)) << "a folder where a file is";
    EXPECT_EQ(clash, "docs\\a.txt");
    EXPECT_TRUE(names.Add("docs\\\xC3\xA9.txt", clash));
    EXPECT_FALSE(names.Add("docs\\\xC3\x89.txt", clash)) << "letters beyond ASCII fold too";
    EXPECT_EQ(clash, "docs\\\xC3\xA9.txt");
    EXPECT_TRUE(names.Add("docs\\k.txt", clash));
    EXPECT_FALSE(names.Add("DOCS\\\xE2\x84\xAA.txt", clash)) << "the Kelvin sign is a K";
    EXPECT_TRUE(names.Add("docs\\\xC4\xB1.txt", clash)) << "dotless i folds to nothing else";
}

TEST(PackageLayout, StubMustBeAGuiProgramEndingBeforeTheLastHeaderOffsetWithoutAHeaderFromTheSearchStart)
{
    struct Case {
        size_t Size;
        long MscfAt;
        bool Accepted;
        uint16_t Subsystem = 2;
        long Spoiled = -1; // a header byte set to 0xFF
    } cases[] = {
        {0xA0, -1, true},           {159999, 159995, true}, // wholly before the search start
        {160003, 159999, true},                             // begins before it: the search never sees it
        {160004, 160000, false},    {225529, -1, true},     {225529, 225525, false},
        {225530, -1, false},        {0, -1, false}, // nothing at all
        {1000, -1, false, 3},                       // a console program
        {1000, -1, false, 2, 0x01},                 // "MZ" spoiled
        {1000, -1, false, 2, 0x41},                 // the "PE\0\0" signature spoiled
        {1000, -1, false, 2, 0x3E},                 // e_lfanew points beyond the file
        {0x9D, -1, false},                          // cut short inside the subsystem field
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> stub = FakeStub(c.Size, c.MscfAt, c.Subsystem);
        if (c.Spoiled >= 0) {
            stub[static_cast<size_t>(c.Spoiled)] = 0xFF;
        }
        EXPECT_EQ(StubProblem(stub.data(), stub.size()).empty(), c.Accepted) << c.Size << " / " << c.MscfAt;
    }
    EXPECT_EQ(CabinetOffsetBehind(0), 160000u);
    EXPECT_EQ(CabinetOffsetBehind(168960), 168960u);
}

TEST(PackageLayout, HeaderSearchTakesTheFirstMatchUpToPosition65529)
{
    struct Case {
        std::vector<long> Matches;
        size_t WindowSize;
        int32_t Found;
    } cases[] = {
        {{0}, 65536, 0},          {{65529}, 65536, 65529},
        {{65530}, 65536, -1},     {{65532}, 65536, -1},
        {{500, 100}, 65536, 100}, {{}, 65536, -1},
        {{10}, 13, -1}, // a short read: the magic does not fit
        {{10}, 14, 10},           {{}, 3, -1},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> window(65536, 0);
        for (long at : c.Matches) {
            std::copy_n("MSCF", 4, window.data() + at);
        }
        EXPECT_EQ(FindCabinetHeader(window.data(), c.WindowSize), c.Found)
            << (c.Matches.empty() ? -1 : c.Matches[0]) << " in " << c.WindowSize;
    }
}

TEST(DosTime, ClampsTimesOutsideTheMsDosRange)
{
    uint16_t date = 1;
    uint16_t time = 1;
    EXPECT_EQ(ToDosDateTime(FILETIME{0, 0}, date, time), -1); // 1601
    EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
    EXPECT_EQ(time, 0);
    EXPECT_EQ(ToDosDateTime(FILETIME{0, 0x7FFFFFFF}, date, time), 1); // far beyond 2107
    EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
    EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
    // 2000-06-15 12:00:00 UTC: in range whatever the local offset.
    EXPECT_EQ(ToDosDateTime(FILETIME{0x8C0E8000u, 0x01BFD6D5u}, date, time), 0);
}

// One table for the strict check, for names printed on a terminal (escaped
// text that no control byte leaves raw) and for names in --json.
TEST(Utf8, AcceptsOnlyWellFormedShortestFormsAndPrintsEverythingElseEscaped)
{
    struct Case {
        const char *Bytes;
        bool Valid;
        const char *Shown;
        const char *Json;
    } cases[] = {
        {"plain", true, "plain", "\"plain\""},
        {"\xC3\xA9", true, "\xC3\xA9", "\"\xC3\xA9\""},
        {"\xE2\x82\xAC", true, "\xE2\x82\xAC", "\"\xE2\x82\xAC\""},
        {"\xF0\x9F\x98\x80", true, "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
        {"\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\""},  // U+10FFFF
        {"\x80", false, "\\x80", "\"\\ufffd\""},                                 // stray continuation
        {"\xC0\xAF", false, "\\xc0\\xaf", "\"\\ufffd\\ufffd\""},                 // overlong "/"
        {"\xC0\x8A", false, "\\xc0\\x8a", "\"\\ufffd\\ufffd\""},                 // overlong newline
        {"\xE0\x80\xAF", false, "\\xe0\\x80\\xaf", "\"\\ufffd\\ufffd\\ufffd\""}, // overlong
        {"\xF0\x80\x80\xAF", false, "\\xf0\\x80\\x80\\xaf", nullptr},            // overlong
        {"\xED\xA0\x80", false, "\\xed\\xa0\\x80", nullptr},                     // a surrogate
        {"\xF4\x90\x80\x80", false, "\\xf4\\x90\\x80\\x80", nullptr},            // beyond U+10FFFF
        {"\xE2\x82", false, "\\xe2\\x82", nullptr},                              // cut short
        {"\xC3\x28", false, "\\xc3(", "\"\\ufffd(\""},                           // bad continuation
        {"\xFF", false, "\\xff", nullptr},
        {"red\x1b[31m", true, "red\\x1b[31m", "\"red\\u001b[31m\""},
        {"a\nforged\r\tline", true, "a\\nforged\\r\\tline", "\"a\\u000aforged\\u000d\\u0009line\""},
        {"del\x7F", true, "del\\x7f", "\"del\\u007f\""},
        {"csi\xC2\x9B"
         "2J",
         true, "csi\\xc2\\x9b2J", "\"csi\\u009b2J\""},                                  // C1 control
        {"rtl\xE2\x80\xAEtxt.exe", true, "rtl\\u202etxt.exe", "\"rtl\\u202etxt.exe\""}, // reorders what follows
        {"dir\\\"q\".txt", true, "dir\\\"q\".txt", "\"dir\\\\\\\"q\\\".txt\""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(IsValidUtf8(c.Bytes), c.Valid) << c.Bytes;
        EXPECT_EQ(PrintableText(c.Bytes), c.Shown);
        if (c.Json != nullptr) {
            EXPECT_EQ(JsonString(c.Bytes), c.Json);
        }
    }
}

TEST(ArgParser, AcceptsTheUsualOptionFormsAndRefusesTheRest)
{
    std::vector<OptionDef> options = {{"output", 'o', true}, {"json", 0, false}, {"stub", 0, true}};
    ParsedArgs parsed;
    std::string error;
    ASSERT_TRUE(ParseArgs({"-o", "a", "in1", "--stub=s", "--json", "--", "-x", "--json"}, options, parsed, error))
        << error;
    EXPECT_EQ(parsed.Get("output"), "a");
    EXPECT_EQ(parsed.Get("stub"), "s");
    EXPECT_TRUE(parsed.Has("json"));
    EXPECT_EQ(parsed.Operands, (std::vector<std::string>{"in1", "-x", "--json"}));
    ASSERT_TRUE(ParseArgs({"-ob", "--output", "c", "-"}, options, parsed, error));
    EXPECT_EQ(parsed.Get("output"), "c") << "the last use wins";
    EXPECT_EQ(parsed.GetAll("output"), (std::vector<std::string>{"b", "c"})) << "for options that repeat";
    EXPECT_EQ(parsed.Operands, std::vector<std::string>{"-"});
    // Bundled flags; in a bundle an option that takes a value takes the rest.
    options.push_back({"quiet", 'q', false});
    options.push_back({"force", 'f', false});
    ASSERT_TRUE(ParseArgs({"-qfo", "x", "-fqoy"}, options, parsed, error)) << error;
    EXPECT_TRUE(parsed.Has("quiet") && parsed.Has("force"));
    EXPECT_EQ(parsed.GetAll("output"), (std::vector<std::string>{"x", "y"}));

    struct Case {
        std::vector<std::string> Args;
        const char *Message;
    } bad[] = {
        {{"--frob"}, "unknown option --frob"}, {{"-z"}, "unknown option -z"},  {{"--json=yes"}, "takes no value"},
        {{"--output"}, "needs a value"},       {{"x", "-o"}, "needs a value"}, {{"-qz"}, "unknown option -z"},
        {{"-qo"}, "option -o needs a value"},
    };
    for (const Case &c : bad) {
        EXPECT_FALSE(ParseArgs(c.Args, options, parsed, error)) << c.Message;
        EXPECT_NE(error.find(c.Message), std::string::npos) << error;
    }
}

TEST(NamePattern, MatchesStoredNamesIgnoringCaseAndSeparatorKind)
{
    struct Case {
        const char *Pattern;
        const char *Name;
        bool Whole;    // Matches
        bool Contains; // MatchesOrContains: the name or one of its folders
    } cases[] = {
        {"*.txt", "readme.txt", true, true},
        {"*.txt", "docs\\readme.TXT", true, true}, // "*" crosses separators
        {"*.txt", "readme.txt.bak", false, false},
        {"docs/*", "docs\\a\\b.bin", true, true},
        {"DOCS", "docs\\a.txt", false, true}, // a folder selects what it holds
        {"doc", "docs\\a.txt", false, false},
        {"d?cs\\a.txt", "docs/a.txt", true, true},
        {"?", "ab", false, false},
        {"a*b*c", "aXbYbZc", true, true},
        {"a*b*c", "aXbYbZ", false, false},
        {"", "", true, true},
        {"*", "anything\\at\\all", true, true},
        {"\xC3\x9C*", "\xC3\x9Cn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9", true, true},
    };
    for (const Case &c : cases) {
        CNamePattern pattern(c.Pattern);
        EXPECT_EQ(pattern.Matches(c.Name), c.Whole) << c.Pattern << " / " << c.Name;
        EXPECT_EQ(pattern.MatchesOrContains(c.Name), c.Contains) << c.Pattern << " / " << c.Name;
    }
    // Ill-formed stars in a row take time bounded by the lengths' product.
    EXPECT_FALSE(CNamePattern(std::string(40, '*') + "x").Matches(std::string(5000, 'a')));
}

// The progress line at the widths of a narrow, a usual and a wide terminal:
// never longer than width - 1 columns (a full line would wrap), the
// percentage always, and what fits of the rest.
TEST(ProgressLine, FitsEveryWidthAndKeepsWhatMattersMost)
{
    ProgressState early;
    early.BytesDone = 1 << 20;
    early.BytesTotal = 300u << 20;
    early.FilesDone = 3;
    early.FilesTotal = 5058;
    early.Seconds = 0.2; // no rate yet
    early.CurrentName = "usr\\share\\doc\\a-package-with-a-long-name\\changelog.Debian.gz";
    ProgressState later = early;
    later.BytesDone = 150u << 20;
    later.Seconds = 10;
    ProgressState wide = later;
    wide.CurrentName = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\\" + std::string(30, 'x') + "\xE6\x96\x87.txt";
    ProgressState escaped = later;
    escaped.CurrentName = "evil\x1b[2J\nname.txt";

    struct Case {
        const ProgressState *State;
        size_t Width;
        std::vector<const char *> Shown;
        std::vector<const char *> Left;
    } cases[] = {
        {&early, 40, {"  0%", "1.0 MiB of 300.0 MiB", "ETA -:--"}, {"files", "doc"}},
        {&early, 80, {"ETA -:--", "changelog.Debian.gz"}, {}},
        {&early, 200, {"[", "3/5058 files", "-/s", "ETA -:--", early.CurrentName.c_str()}, {}},
        {&later, 40, {" 50%", "150.0 MiB of 300.0 MiB"}, {"[#"}},
        {&later, 80, {"15.0 MiB/s", "ETA 0:10", "\xE2\x80\xA6", ".Debian.gz"}, {}},
        {&later, 200, {"[###############", "15.0 MiB/s", "ETA 0:10"}, {"\xE2\x80\xA6"}},
        {&wide, 40, {" 50%"}, {}},
        {&wide, 80, {"\xE6\x96\x87.txt"}, {}},
        {&escaped, 200, {"evil\\x1b[2J\\nname.txt"}, {"\x1b"}},
        {&later, 4, {}, {"%"}}, // no room even for the percentage
    };
    for (const Case &c : cases) {
        const std::string line = RenderProgress(*c.State, c.Width);
        EXPECT_LE(DisplayWidth(line), c.Width - 1) << c.Width << ": " << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        for (const char *part : c.Shown) {
            EXPECT_NE(line.find(part), std::string::npos) << c.Width << ": \"" << part << "\" not in " << line;
        }
        for (const char *part : c.Left) {
            EXPECT_EQ(line.find(part), std::string::npos) << c.Width << ": \"" << part << "\" in " << line;
        }
    }
    EXPECT_EQ(DisplayWidth("\xE6\x97\xA5"
                           "a\xCC\x81"),
              3u)
        << "wide, narrow, combining";
}
