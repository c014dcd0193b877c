// selfex pack, end to end: packages and bare cabinets round-trip through
// list, test and extract (natively over our decompressor, under Wine over
// its Cabinet.dll), and every refusal leaves no output behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

#include "tests/tools/ToolTest.h"
#include "tools/TextConv.h"

namespace fs = std::filesystem;

namespace {

// The source tree every round trip packs.
const struct {
    const char *Path;
    size_t Size;
} TREE[] = {
    {"top.txt", 1000},
    {"empty.dat", 0},
    {"nested/deeper/deepest/big.bin", 3 * 32768 + 123},
    {"nested/one.txt", 32768},
    {"\xC3\x9Cn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", 77},
    {"readonly.txt", 10},
};

WIN32_FILE_ATTRIBUTE_DATA Stat(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    EXPECT_TRUE(GetFileAttributesExW(Selfex::ToPlatformPath(path).c_str(), GetFileExInfoStandard, &data)) << path;
    return data;
}

uint64_t Ticks(const FILETIME &time)
{
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

} // namespace

class PackTest : public ToolTest {
protected:
    void MakeTree()
    {
        uint32_t seed = 1;
        for (const auto &file : TREE) {
            Write(std::string("tree/") + file.Path, SampleBytes(file.Size, seed++));
        }
        fs::permissions(fs::u8path(At("tree/readonly.txt")),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }

    // Extracts package into out/ and compares it with tree/: names, bytes,
    // times (to MS-DOS precision) and the read-only attribute.
    void ExpectExtractedTreeMatches(const std::string &package)
    {
        CommandResult extracted = Run({"extract", "-d", At("out"), package});
        ASSERT_EQ(extracted.Code, 0) << extracted.Err;
        EXPECT_EQ(extracted.Out, "");
        EXPECT_EQ(extracted.Err, "") << "quiet when not on a terminal";
        EXPECT_EQ(Tree("out"), Tree("tree"));
        for (const auto &file : TREE) {
            SCOPED_TRACE(file.Path);
            std::string relative = file.Path;
            EXPECT_TRUE(Read("out/" + relative) == Read("tree/" + relative));
            WIN32_FILE_ATTRIBUTE_DATA source = Stat(At("tree/" + relative));
            WIN32_FILE_ATTRIBUTE_DATA copy = Stat(At("out/" + relative));
            uint64_t sourceTicks = Ticks(source.ftLastWriteTime);
            EXPECT_EQ(Ticks(copy.ftLastWriteTime), sourceTicks - sourceTicks % 20000000u);
            EXPECT_EQ(copy.dwFileAttributes & FILE_ATTRIBUTE_READONLY,
                      source.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
        }
        EXPECT_NE(Stat(At("out/readonly.txt")).dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
    }
};

TEST_F(PackTest, PackagesAndBareCabinetsRoundTripThroughListTestAndExtract)
{
    MakeTree();
    struct Case {
        const char *Output;
        size_t StubSize; // 0: bare cabinet
        const char *Compression;
        uint32_t CabinetOffset;
    } cases[] = {
        {"short-stub.exe", 1000, "mszip", 160000},
        {"long-stub.exe", 200000, "mszip", 200000},
        {"longest-stub.exe", 225529, "none", 225529},
        {"bare.cab", 0, "mszip", 0},
        {"stored.CAB", 0, "none", 0},
        {"x", 1000, "mszip", 160000}, // a name the extractor takes only under an alias
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Output);
        std::vector<std::string> args = {"pack", "-o", At(c.Output), "--compression", c.Compression};
        if (c.StubSize > 0) {
            Write("stub.bin", FakeStub(c.StubSize));
            args.insert(args.end(), {"--stub", At("stub.bin")});
        }
        args.push_back(At("tree"));
        CommandResult packed = Run(args);
        ASSERT_EQ(packed.Code, 0) << packed.Err;
        EXPECT_NE(packed.Out.find("6 files, "), std::string::npos) << packed.Out;
        if (c.StubSize > 0) {
            std::vector<uint8_t> bytes = Read(c.Output);
            std::vector<uint8_t> stub = FakeStub(c.StubSize);
            ASSERT_GT(bytes.size(), c.CabinetOffset);
            EXPECT_TRUE(std::equal(stub.begin(), stub.end(), bytes.begin())) << "the stub comes first, unchanged";
            EXPECT_TRUE(std::all_of(bytes.data() + c.StubSize, bytes.data() + c.CabinetOffset,
                                    [](uint8_t b) { return b == 0; }));
        }

        CommandResult json = Run({"list", "--json", At(c.Output)});
        ASSERT_EQ(json.Code, 0) << json.Err;
        EXPECT_NE(json.Out.find("\"cabinetOffset\": " + std::to_string(c.CabinetOffset) + ","), std::string::npos);
        CommandResult listed = Run({"list", At(c.Output)});
        ASSERT_EQ(listed.Code, 0) << listed.Err;
        EXPECT_NE(listed.Out.find("     98427  "), std::string::npos) << listed.Out;
        EXPECT_TRUE(listed.Out.find("R---    readonly.txt") != std::string::npos ||
                    listed.Out.find("R--A    readonly.txt") != std::string::npos)
            << listed.Out;
        EXPECT_NE(listed.Out.find("  nested\\deeper\\deepest\\big.bin\n"), std::string::npos) << listed.Out;

        CommandResult tested = Run({"test", At(c.Output)});
        EXPECT_EQ(tested.Code, 0) << tested.Out << tested.Err;
        EXPECT_NE(tested.Out.find("all 6 files ok"), std::string::npos) << tested.Out;
        EXPECT_TRUE(LeftTemporaryFolders().empty()) << "read-only and hidden stand-ins too";

        ExpectExtractedTreeMatches(At(c.Output));
        Remove("out");
    }
}

TEST_F(PackTest, StoresHiddenSystemAndArchiveAttributesAndRestoresThem)
{
    Write("in/flagged.txt", "flags");
    WString wide = Selfex::ToPlatformPath(At("in/flagged.txt"));
    const DWORD wanted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    SetFileAttributesW(wide.c_str(), wanted);
    if ((GetFileAttributesW(wide.c_str()) & wanted) != wanted) {
        GTEST_SKIP() << "this file system keeps no hidden/system/archive attributes";
    }

    ASSERT_EQ(Run({"pack", "-o", At("a.cab"), At("in")}).Code, 0);
    CommandResult listed = Run({"list", At("a.cab")});
    EXPECT_NE(listed.Out.find("-HSA    flagged.txt"), std::string::npos) << listed.Out;
    ASSERT_EQ(Run({"extract", "-d", At("out"), At("a.cab")}).Code, 0);
    EXPECT_EQ(GetFileAttributesW(Selfex::ToPlatformPath(At("out/flagged.txt")).c_str()) & 0x27u, wanted);
}

TEST_F(PackTest, StartsNewFoldersAtTheFolderSize)
{
    for (int i = 0; i < 3; ++i) {
        Write("in/part" + std::to_string(i), SampleBytes(50000, static_cast<uint32_t>(i)));
    }
    CommandResult packed = Run({"pack", "-o", At("split.cab"), "--folder-size", "64K", At("in")});
    ASSERT_EQ(packed.Code, 0) << packed.Err;
    EXPECT_NE(packed.Out.find("in 3 folders"), std::string::npos) << packed.Out;
    CommandResult tested = Run({"test", At("split.cab")});
    EXPECT_EQ(tested.Code, 0) << tested.Out;
}

TEST_F(PackTest, PacksFilesByTheirNamesAndLeavesTheOutputItselfOut)
{
    Write("in/sub/a.txt", "a");
    Write("b.txt", "b");
    Write("in/c.cab", "old package");
    CommandResult packed = Run({"pack", "-o", At("in/c.cab"), At("in"), At("b.txt")});
    ASSERT_EQ(packed.Code, 0) << packed.Err;
    EXPECT_NE(packed.Err.find("the output file itself left out"), std::string::npos) << packed.Err;
    CommandResult listed = Run({"list", At("in/c.cab")});
    EXPECT_NE(listed.Out.find("  sub\\a.txt\n"), std::string::npos) << listed.Out;
    EXPECT_NE(listed.Out.find("  b.txt\n"), std::string::npos) << listed.Out;
    EXPECT_EQ(listed.Out.find("c.cab"), std::string::npos) << listed.Out;
}

TEST_F(PackTest, PacksAnEmptyFolderAsACabinetWithoutFiles)
{
    fs::create_directories(fs::u8path(At("in/nothing")));
    CommandResult packed = Run({"pack", "-o", At("empty.cab"), At("in")});
    ASSERT_EQ(packed.Code, 0) << packed.Err;
    EXPECT_NE(packed.Err.find("empty folder left out"), std::string::npos) << packed.Err;
    CommandResult listed = Run({"list", At("empty.cab")});
    EXPECT_EQ(listed.Code, 0) << listed.Err;
    EXPECT_EQ(listed.Out, "0 files, 0 bytes in 0 folders; cabinet of 36 bytes, -\n");
    EXPECT_EQ(Run({"test", At("empty.cab")}).Code, 0);
    EXPECT_EQ(Run({"extract", "-d", At("out"), At("empty.cab")}).Code, 0);
    EXPECT_TRUE(Tree("out").empty());
}

// Each refusal: exit code 1, a message that says what is wrong, and nothing
// left in the output folder (no package, no temporary file).
TEST_F(PackTest, RefusesWhatCannotBeStoredAndLeavesNoOutput)
{
    struct Case {
        const char *Title;
        std::function<bool(PackTest &)> Prepare; // false: the case cannot be built here
        std::vector<std::string> Inputs;         // relative to the temporary folder
        const char *Message;
        std::vector<std::string> Options = {};
        std::vector<std::string> Left = {}; // what stays in out/: only what Prepare made there
    };
    auto stub = [](size_t size, long mscfAt, uint16_t subsystem = 2) {
        return [=](PackTest &t) {
            t.Write("stub.bin", FakeStub(size, mscfAt, subsystem));
            t.Write("in/a.txt", "a");
            return true;
        };
    };
    auto files = [](std::vector<std::string> names) {
        return [=](PackTest &t) {
            for (const std::string &name : names) {
                t.Write(name, name);
            }
            std::vector<std::string> made = t.Tree("in");
            return std::all_of(names.begin(), names.end(), [&](const std::string &name) {
                return std::find(made.begin(), made.end(), name.substr(3)) != made.end();
            });
        };
    };
    std::string longLevel(90, 'L');
    std::vector<Case> cases = {
        {"stub too long", stub(225530, -1), {"in"}, "at most 225529 bytes", {"--stub", "stub.bin"}},
        {"MSCF at 160000", stub(170000, 160000), {"in"}, "holds \"MSCF\" at offset 160000", {"--stub", "stub.bin"}},
        {"MSCF at 225525", stub(225529, 225525), {"in"}, "at offset 225525", {"--stub", "stub.bin"}},
        {"missing stub", files({"in/a.txt"}), {"in"}, "cannot read the stub", {"--stub", "nothing.bin"}},
        {"stub no program",
         [](PackTest &t) {
             t.Write("stub.bin", "#!/bin/sh\necho a script is no stub\n");
             t.Write("in/a.txt", "a");
             return true;
         },
         {"in"},
         "stub.bin: not a Windows executable",
         {"--stub", "stub.bin"}},
        {"console stub", stub(1000, -1, 3), {"in"}, "subsystem 3 (console)", {"--stub", "stub.bin"}},
        {"output a folder",
         [](PackTest &t) {
             fs::create_directories(fs::u8path(t.At("out/package.exe")));
             t.Write("in/a.txt", "a");
             return true;
         },
         {"in"},
         "package.exe: is a folder",
         {},
         {"package.exe"}},
        {"default stub missing", files({"in/a.txt"}), {"in"}, "selfex-stub-x86.exe"},
        {"same name twice",
         files({"in/a/x.txt", "in/b/x.txt"}),
         {"in/a/x.txt", "in/b/x.txt"},
         "collides with \"x.txt\""},
        {"names differing in case", files({"in/Read.me", "in/READ.ME"}), {"in"}, "collides"},
        {"file where a folder goes", files({"in/1/doc", "in/2/doc/x"}), {"in/1", "in/2"}, "collides with \"doc\""},
        {"name over 255 bytes",
         files({"in/" + longLevel + "/" + longLevel + "/" + longLevel}),
         {"in"},
         "a cabinet allows 255"},
        {"device name", files({"in/aux.txt"}), {"in"}, "device name reserved by Windows"},
        {"trailing dot", files({"in/name."}), {"in"}, "trailing dot"},
        {"colon", files({"in/a:b"}), {"in"}, "the character ':'"},
        {"missing input", files({"in/a.txt"}), {"in", "nowhere"}, "nowhere: no such file or folder"},
        {"file over the format's limit",
         [](PackTest &t) {
             t.Write("in/huge.bin", "");
             std::error_code failure;
             fs::resize_file(fs::u8path(t.At("in/huge.bin")), 2147450881ull, failure);
             return !failure;
         },
         {"in"},
         "holds files of up to 2147450880 bytes"},
        {"unreadable file",
         [](PackTest &t) {
             t.Write("in/secret.txt", "secret");
             fs::permissions(fs::u8path(t.At("in/secret.txt")), fs::perms::none);
             // Administrators and root read it anyway; nothing to test then.
             return t.Read("in/secret.txt").empty();
         },
         {"in"},
         "secret.txt: cannot read"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Title);
        Remove("in");
        Remove("out");
        fs::create_directories(fs::u8path(At("out")));
        if (!c.Prepare(*this)) {
            std::cout << "[ SKIPPED  ] " << c.Title << ": cannot be built on this system\n";
            continue;
        }
        std::vector<std::string> args = {"pack", "-o", At("out/package.exe")};
        for (size_t i = 0; i < c.Options.size(); ++i) {
            args.push_back(i % 2 == 1 ? At(c.Options[i]) : c.Options[i]);
        }
        for (const std::string &input : c.Inputs) {
            args.push_back(At(input));
        }
        CommandResult result = Run(args);
        EXPECT_EQ(result.Code, 1) << result.Err;
        EXPECT_NE(result.Err.find(c.Message), std::string::npos) << result.Err;
        EXPECT_EQ(Tree("out"), c.Left) << "left behind";
    }
}

// A read that fails half-way through the run, after the output was begun.
TEST_F(PackTest, ReadFailureWhileWritingLeavesNoOutput)
{
    const char *failing = "/proc/self/mem"; // a regular file of size 0 whose read at 0 fails
    if (!fs::exists(failing)) {
        GTEST_SKIP() << "no file here whose read fails";
    }
    Write("in/a.txt", SampleBytes(100000, 3));
    fs::create_directories(fs::u8path(At("out")));
    CommandResult result = Run({"pack", "-o", At("out/p.cab"), At("in"), failing});
    EXPECT_EQ(result.Code, 1);
    EXPECT_NE(result.Err.find("read failed"), std::string::npos) << result.Err;
    EXPECT_TRUE(Tree("out").empty());
}

TEST_F(PackTest, RefusesMoreFilesThanACabinetHolds)
{
    // The refusal is the same code on both systems; making 65536 files
    // through Wine's file system layer takes minutes.
    if (std::getenv("WINEPREFIX") != nullptr) {
        GTEST_SKIP() << "65536 files take too long to make under Wine; the native run covers this";
    }
    for (int i = 0; i < 65536; ++i) {
        std::string name = At("in/" + std::to_string(i / 1000) + "/" + std::to_string(i));
        if (i % 1000 == 0) {
            fs::create_directories(fs::u8path(name).parent_path());
        }
        std::ofstream(fs::u8path(name));
    }
    fs::create_directories(fs::u8path(At("out")));
    CommandResult result = Run({"pack", "-o", At("out/many.cab"), At("in")});
    EXPECT_EQ(result.Code, 1);
    EXPECT_NE(result.Err.find("more than 65535 files: a cabinet holds at most 65535"), std::string::npos) << result.Err;
    EXPECT_TRUE(Tree("out").empty());
}

TEST_F(PackTest, BadUsageExitsWithTwo)
{
    Write("in/a.txt", "a");
    const std::vector<std::vector<std::string>> cases = {
        {"pack", At("in")},
        {"pack", "-o", At("p.cab")},
        {"pack", "-o", At("p.cab"), "--compression", "lzx:14", At("in")},
        {"pack", "-o", At("p.cab"), "--compression", "lzx", "--level", "10", At("in")},
        {"pack", "-o", At("p.cab"), "--level", "3", At("in")},
        {"pack", "-o", At("p.cab"), "--folder-size", "0", At("in")},
        {"pack", "-o", At("p.cab"), "--folder-size", "3G", At("in")},
        {"pack", "-o", At("p.cab"), "--folder-size", "12Q", At("in")},
        {"pack", "-o", At("p.cab"), "--stub", At("in/a.txt"), At("in")},
        {"pack", "-o", At("p.cab"), "--frobnicate", At("in")},
        {"pack", "-o"},
        {"list"},
        {"list", "a", "b"},
        {"extract", "-d"},
        {"unpack", "x"},
        {},
    };
    for (const auto &args : cases) {
        CommandResult result = Run(args);
        EXPECT_EQ(result.Code, 2) << (args.empty() ? "" : args.back()) << ": " << result.Err;
        EXPECT_FALSE(result.Err.empty());
    }
    EXPECT_FALSE(Exists("p.cab"));
}

TEST_F(PackTest, HelpForEveryCommandSucceeds)
{
    for (const char *command : {"pack", "list", "test", "extract"}) {
        CommandResult result = Run({command, "--help"});
        EXPECT_EQ(result.Code, 0) << command;
        EXPECT_NE(result.Out.find(std::string("usage: selfex ") + command), std::string::npos) << result.Out;
    }
    CommandResult overview = Run({"--help"});
    EXPECT_EQ(overview.Code, 0);
    EXPECT_NE(overview.Out.find("extract"), std::string::npos);
}
