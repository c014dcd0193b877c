// selfex list, test and extract on what others wrote (gcab, makecab, cabinet
// sets), on damaged packages and on hostile names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/CorpusExpect.h"
#include "tests/testlib/Sha256.h"
#include "tests/tools/ToolTest.h"

namespace fs = std::filesystem;

namespace {

std::string Corpus(const std::string &name)
{
    std::string path = TestLib::CorpusDir() + "/" + name;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// A byte that would reach the terminal raw: a control other than the line
// ends, or a C1 control in UTF-8 (U+0080-U+009F).
bool HasRawControl(const std::string &text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<uint8_t>(text[i]);
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) >= 0x80 &&
                        static_cast<uint8_t>(text[i + 1]) <= 0x9F;
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F || c1) {
            return true;
        }
    }
    return false;
}

// A one-file cabinet whose header names other cabinets of a set.
std::vector<uint8_t> SetCabinet(const std::string &previous, const std::string &next)
{
    TestLib::CabOptions options;
    options.PrevCabinet = previous;
    options.NextCabinet = next;
    TestLib::CCabBuilder builder(options);
    builder.AddFile("inside.txt", TestLib::Bytes("inside the set"));
    return builder.Build().Bytes;
}

} // namespace

class ReadTest : public ToolTest {};

// Single cabinets by gcab, makecab and others: every stored file listed with
// its name, size, date, time and attributes, tested, and extracted with the
// bytes the corpus expects.
TEST_F(ReadTest, ReadsCabinetsOthersWroteAsTheCorpusExpects)
{
    for (const char *name : {"gcab-test-mszip.cab", "gcab-test-none.cab", "putty-0.68.cab", "encoding-latin1.cab",
                             "pycab-multi-folder.cab"}) {
        SCOPED_TRACE(name);
        std::vector<TestLib::ExpectedEntry> expected;
        std::string error;
        ASSERT_TRUE(TestLib::ReadExpected(Corpus(std::string(name) + ".expected.tsv"), &expected, &error)) << error;

        CommandResult listed = Run({"list", "-q", Corpus(name)});
        ASSERT_EQ(listed.Code, 0) << listed.Err;
        for (const TestLib::ExpectedEntry &entry : expected) {
            std::string shown = entry.Name;
            std::replace(shown.begin(), shown.end(), '/', '\\');
            char prefix[16];
            std::snprintf(prefix, sizeof prefix, "%10u  ", entry.Size);
            EXPECT_TRUE(Contains(listed.Out, prefix)) << entry.Name;
            EXPECT_TRUE(Contains(listed.Out, "  " + shown + "\n")) << entry.Name << " in\n" << listed.Out;
        }
        EXPECT_EQ(static_cast<size_t>(std::count(listed.Out.begin(), listed.Out.end(), '\n')), expected.size());

        CommandResult tested = Run({"test", Corpus(name)});
        EXPECT_EQ(tested.Code, 0) << tested.Out;

        CommandResult extracted = Run({"extract", "-d", At("out/deeper"), Corpus(name)});
        ASSERT_EQ(extracted.Code, 0) << extracted.Err;
        for (const TestLib::ExpectedEntry &entry : expected) {
            std::string relative = entry.Name;
            std::replace(relative.begin(), relative.end(), '\\', '/');
            EXPECT_EQ(TestLib::Sha256Hex(Read("out/deeper/" + relative)), entry.Sha256) << entry.Name;
        }
        Remove("out");
    }
}

// A bare cabinet that starts a set: the following cabinets are found beside
// it and read through the staging folder too.
TEST_F(ReadTest, FollowsABareCabinetSetToItsEnd)
{
    CommandResult tested = Run({"test", Corpus("cabd_multi_basic_pt1.cab")});
    EXPECT_EQ(tested.Code, 0) << tested.Out << tested.Err;
    CommandResult extracted = Run({"extract", "-d", At("out"), Corpus("cabd_multi_basic_pt1.cab")});
    ASSERT_EQ(extracted.Code, 0) << extracted.Err;
    std::vector<TestLib::ExpectedEntry> expected;
    std::string error;
    for (int part = 1; part <= 5; ++part) {
        std::string tsv = Corpus("cabd_multi_basic_pt" + std::to_string(part) + ".cab.expected.tsv");
        ASSERT_TRUE(TestLib::ReadExpected(tsv, &expected, &error)) << error;
        for (const TestLib::ExpectedEntry &entry : expected) {
            if (entry.FdiEvent == "COPY_FILE") {
                EXPECT_EQ(TestLib::Sha256Hex(Read("out/" + entry.Name)), entry.Sha256) << entry.Name;
            }
        }
    }
}

// A damaged block: test names the file and fails; extract keeps the files
// before it and leaves no partial file.
TEST_F(ReadTest, DamagedDataFailsTestAndExtractWithoutPartialFiles)
{
    Write("in/a-first.txt", SampleBytes(1000, 1));
    Write("in/b-second.bin", SampleBytes(200000, 2));
    ASSERT_EQ(Run({"pack", "-o", At("p.cab"), "--compression", "none", At("in")}).Code, 0);
    std::vector<uint8_t> cab = Read("p.cab");
    cab[cab.size() - 5000] ^= 0x55; // inside the last block, which belongs to b-second.bin
    Write("p.cab", cab);

    CommandResult tested = Run({"test", "-v", At("p.cab")});
    EXPECT_EQ(tested.Code, 1);
    EXPECT_TRUE(Contains(tested.Out, "ok      a-first.txt")) << tested.Out;
    EXPECT_TRUE(Contains(tested.Out, "FAILED  b-second.bin: the cabinet is corrupt")) << tested.Out;
    EXPECT_TRUE(Contains(tested.Out, "1 ok, 1 failed, 0 not reached")) << tested.Out;

    CommandResult extracted = Run({"extract", "-d", At("out"), At("p.cab")});
    EXPECT_EQ(extracted.Code, 1);
    EXPECT_TRUE(Contains(extracted.Err, "corrupt")) << extracted.Err;
    EXPECT_TRUE(Contains(extracted.Err, "1 of 2 files were extracted")) << extracted.Err;
    EXPECT_EQ(Tree("out"), std::vector<std::string>{"a-first.txt"});
}

// Four folders, the second one damaged: several workers report what a
// single run reports, in the same order, and leave no partial file. Files
// of later folders that another worker finished first may stay.
TEST_F(ReadTest, WorkersReportTheFirstFailureInCabinetOrderAsOneRunDoes)
{
    for (const char *name : {"a.bin", "b.bin", "c.bin", "d.bin"}) {
        Write(std::string("in/") + name, SampleBytes(60000, static_cast<uint8_t>(name[0])));
    }
    ASSERT_EQ(Run({"pack", "-o", At("p.cab"), "--compression", "none", "--folder-size", "100000", At("in")}).Code, 0);
    CommandResult whole = Run({"extract", "-j", "4", "-d", At("whole"), At("p.cab")});
    ASSERT_EQ(whole.Code, 0) << whole.Err;
    EXPECT_EQ(Read("whole/c.bin"), Read("in/c.bin"));
    std::vector<uint8_t> cab = Read("p.cab");
    // Inside b.bin: c.bin and d.bin follow, two blocks of 60000 bytes each.
    cab[cab.size() - 2 * (60000 + 16) - 30000] ^= 0x55;
    Write("p.cab", cab);

    CommandResult serial = Run({"test", "-v", "-j", "1", At("p.cab")});
    CommandResult parallel = Run({"test", "-v", "-j", "4", At("p.cab")});
    EXPECT_EQ(serial.Code, 1);
    EXPECT_TRUE(Contains(serial.Out, "FAILED  b.bin: the cabinet is corrupt")) << serial.Out;
    EXPECT_TRUE(Contains(serial.Out, "1 ok, 1 failed, 2 not reached")) << serial.Out;
    EXPECT_EQ(parallel.Code, serial.Code);
    EXPECT_EQ(parallel.Out, serial.Out);

    CommandResult one = Run({"extract", "-j", "1", "-d", At("one"), At("p.cab")});
    CommandResult four = Run({"extract", "-j", "4", "-d", At("four"), At("p.cab")});
    EXPECT_EQ(four.Code, one.Code);
    EXPECT_EQ(four.Err.substr(0, four.Err.find(';')), one.Err.substr(0, one.Err.find(';'))) << four.Err;
    EXPECT_EQ(Tree("one"), std::vector<std::string>{"a.bin"});
    const std::vector<std::string> kept = Tree("four");
    EXPECT_TRUE(std::count(kept.begin(), kept.end(), "a.bin") == 1 &&
                std::count(kept.begin(), kept.end(), "b.bin") == 0)
        << four.Err;
}

// Names that would escape the destination: nothing at all is extracted.
TEST_F(ReadTest, RefusesUnsafeNamesBeforeWritingAnything)
{
    CommandResult extracted = Run({"extract", "-d", At("out"), Corpus("dirwalk-vulns.cab")});
    EXPECT_EQ(extracted.Code, 1);
    EXPECT_TRUE(Contains(extracted.Err, "nothing extracted: the stored name \"\\absolute\\path\" is refused: an "
                                        "absolute path"))
        << extracted.Err;
    EXPECT_TRUE(Contains(extracted.Err, "code 8, detail 123")) << extracted.Err;
    EXPECT_TRUE(Tree("out").empty());
    EXPECT_TRUE(Tree("").size() <= 1u) << "nothing outside out/ either";

    CommandResult listed = Run({"list", Corpus("dirwalk-vulns.cab")});
    EXPECT_EQ(listed.Code, 1);
    EXPECT_TRUE(Contains(listed.Err, "unsafe")) << listed.Err;
}

TEST_F(ReadTest, ExplainsFilesThatAreNoPackages)
{
    Write("text.txt", SampleBytes(300000, 4));
    Write("short.bin", "MZ");
    struct Case {
        std::string Path;
        const char *Message;
    } cases[] = {
        {At("text.txt"), "no cabinet found"},
        {At("short.bin"), "not a package or cabinet"},
        {At("missing.exe"), "no such file"},
        {Corpus("bad_signature.cab"), "not a package or cabinet"},
    };
    for (const Case &c : cases) {
        CommandResult listed = Run({"list", c.Path});
        EXPECT_EQ(listed.Code, 1) << c.Path;
        EXPECT_TRUE(Contains(listed.Err, c.Message)) << c.Path << ": " << listed.Err;
        CommandResult tested = Run({"test", c.Path});
        EXPECT_EQ(tested.Code, 1) << c.Path;
        CommandResult extracted = Run({"extract", "-d", At("out"), c.Path});
        EXPECT_EQ(extracted.Code, 1) << c.Path;
        EXPECT_TRUE(Tree("out").empty());
    }
}

// Hostile cabinets and sets through list, test and extract: each fails with
// a reason that names the offending cabinet or name, reads no cabinet
// outside the set's folder (victim.cab is never reached), writes nothing
// outside the destination, leaves no temporary folder, and ends in bounded
// time. Codes are those of list, test and extract; -1 accepts 0 or 1 (stored
// names the extractor's rule may refuse), which still must print safely.
TEST_F(ReadTest, HostileCabinetsFailClosedWithTheirReasonAndLeaveNothingBehind)
{
    struct Case {
        const char *Title;
        std::function<std::string(ReadTest &)> Prepare; // makes the input below set/, returns its path
        const char *Message;                            // in every failing command's error output
        std::vector<int> Codes = {1, 1, 1};
    };
    auto set = [](const std::string &previous, const std::string &next) {
        return [=](ReadTest &t) {
            t.Write("set/hostile.cab", SetCabinet(previous, next));
            return t.At("set/hostile.cab");
        };
    };
    auto names = [](std::vector<std::string> stored) {
        return [=](ReadTest &t) {
            TestLib::CCabBuilder builder;
            for (const std::string &name : stored) {
                builder.AddFile(name, TestLib::Bytes("x"), 0xA0); // archive, UTF-8 name
            }
            t.Write("set/names.cab", builder.Build().Bytes);
            return t.At("set/names.cab");
        };
    };
    std::vector<Case> cases = {
        {"next cabinet up the tree", set("", "../victim.cab"),
         "continues with \"../victim.cab\" (named in hostile.cab), which holds a folder separator"},
        {"next cabinet up the tree, Windows style", set("", "..\\victim.cab"), "which holds a folder separator"},
        {"next cabinet by absolute path", [set](ReadTest &t) { return set("", t.At("victim.cab"))(t); },
         "which holds a folder separator"},
        {"next cabinet on a drive", set("", "C:victim.cab"), "which holds a colon"},
        {"next cabinet \"..\"", set("", ".."), "which is \".\" or \"..\""},
        {"next cabinet a device", set("", "CON"), "device name"},
        // Its file continues from there: every decompressor skips it and
        // opens nothing; list shows it, test and extract refuse a cabinet
        // that continues a set.
        {"previous cabinet up the tree",
         [](ReadTest &t) {
             TestLib::CabOptions options;
             options.PrevCabinet = "../victim.cab";
             TestLib::CCabBuilder builder(options);
             builder.AddFile("inside.txt", TestLib::Bytes("inside the set"));
             TestLib::CabImage cab = builder.Build();
             TestLib::PutLe16(cab.Bytes, cab.Layout.Files[0] + 8, TestLib::CAB_IFOLD_CONTINUED_FROM_PREV);
             t.Write("set/hostile.cab", cab.Bytes);
             return t.At("set/hostile.cab");
         },
         "\"../victim.cab\" is no plain file name",
         {0, 1, 1}},
        {"next cabinet with escape sequences", set("", "x\x1b]0;owned\x07\x1b[2J.cab"),
         "x\\x1b]0;owned\\x07\\x1b[2J.cab"},
        {"bare cabinet of 2 GiB",
         [](ReadTest &t) {
             t.Write("set/huge.cab", SetCabinet("", ""));
             fs::resize_file(fs::u8path(t.At("set/huge.cab")), 0x80000000u - 160000u);
             return t.At("set/huge.cab");
         },
         "too large for the extractor: 160000 bytes of package prefix and 2147323648 bytes"},
        {"file declaring 2 GB over 5 bytes",
         [](ReadTest &t) {
             TestLib::CCabBuilder builder;
             builder.AddFile("big.bin", TestLib::Bytes("12345"));
             TestLib::CabImage cab = builder.Build();
             TestLib::PutLe32(cab.Bytes, cab.Layout.Files[0], 0x7FFF0000u); // cbFile
             t.Write("set/declares.cab", cab.Bytes);
             return t.At("set/declares.cab");
         },
         "big.bin",
         {0, 1, 1}},
        {"stored names with escapes and a newline",
         names({"red\x1b[31m.txt", "line\nforged.txt",
                "csi\xC2\x9B"
                "2J.txt",
                "rtl\xE2\x80\xAEtxt.exe"}),
         "",
         {-1, -1, -1}},
        {"dirwalk-vulns.cab", [](ReadTest &) { return Corpus("dirwalk-vulns.cab"); }, "\\absolute\\path"},
    };
    Write("victim.cab", SetCabinet("", ""));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Title);
        const std::string input = c.Prepare(*this);
        const std::vector<std::string> before = Tree("");
        const char *commands[] = {"list", "test", "extract"};
        for (size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(commands[i]);
            std::vector<std::string> args = {commands[i], input};
            if (i == 2) {
                args.insert(args.begin() + 1, {"-d", At("out")});
            }
            CommandResult result = RunBounded(args);
            if (c.Codes[i] >= 0) {
                EXPECT_EQ(result.Code, c.Codes[i]) << result.Out << result.Err;
            }
            if (result.Code != 0) {
                EXPECT_TRUE(Contains(result.Out + result.Err, c.Message)) << result.Out << result.Err;
                EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
            }
            if (result.Code != 0 && i == 2) {
                EXPECT_TRUE(Tree("out").empty()) << "a failed listing or a short file leaves nothing";
            }
            EXPECT_FALSE(HasRawControl(result.Out + result.Err)) << result.Out << result.Err;
            EXPECT_FALSE(Contains(result.Out, "\nforged.txt")) << result.Out;
            std::vector<std::string> after = Tree("");
            after.erase(std::remove_if(after.begin(), after.end(),
                                       [](const std::string &name) { return name.rfind("out", 0) == 0; }),
                        after.end());
            EXPECT_EQ(after, before) << "nothing outside out/";
            EXPECT_TRUE(LeftTemporaryFolders().empty());
        }
        CommandResult json = RunBounded({"list", "--json", input});
        EXPECT_FALSE(HasRawControl(json.Out + json.Err)) << json.Out << json.Err;
        Remove("set");
        Remove("out");
    }
}
