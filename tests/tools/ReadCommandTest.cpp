// selfex list, test and extract on what others wrote (gcab, makecab, cabinet
// sets), on damaged packages and on hostile names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

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

        CommandResult listed = Run({"list", Corpus(name)});
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

    CommandResult tested = Run({"test", At("p.cab")});
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

// Names that would escape the destination: nothing at all is extracted.
TEST_F(ReadTest, RefusesUnsafeNamesBeforeWritingAnything)
{
    CommandResult extracted = Run({"extract", "-d", At("out"), Corpus("dirwalk-vulns.cab")});
    EXPECT_EQ(extracted.Code, 1);
    EXPECT_TRUE(Contains(extracted.Err, "nothing extracted: a stored name is unsafe")) << extracted.Err;
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
