// Hostile input, natively over our decompressor and under wine64 over
// Wine's Cabinet.dll: stored names and cabinet-set member names that break
// the name rule, and destinations whose links, FIFOs, hard links and
// read-only files try to send the data elsewhere. Whatever happens, nothing
// is written outside the destination, no link is followed below it, no
// partial file stays, and the run ends with the Code and Detail it should.
#include <cstdlib>
#include <functional>

#include "cabinet/Extract.h"
#include "tests/cabinet/ExtractFixture.h"
#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/CorpusExpect.h"

using namespace Cabinet;
using TestLib::Bytes;

namespace {

constexpr uint16_t UTF8 = 0x80 | 0x20;
constexpr uint16_t CP1252 = 0x20;

struct Stored {
    std::string name; // the stored bytes
    uint16_t attribs;
};

std::vector<uint8_t> CabinetOf(const std::vector<Stored> &files)
{
    TestLib::CCabBuilder builder;
    builder.AddFolder(TestLib::CAB_COMPRESS_MSZIP);
    for (const Stored &file : files) {
        builder.AddFile(file.name, Bytes("data of " + file.name), file.attribs);
    }
    return builder.Build().Bytes;
}

// Counts the opens whose path holds a text, through the raw slot.
class COpenWatch : public CTestExtract {
public:
    std::string Watched;
    int Opens = 0;
    int32_t RawOpen(const WCHAR *path, int flags, int permission) override
    {
        if (WString(path).find(WidePath(Watched)) != WString::npos) {
            ++Opens;
        }
        return CTestExtract::RawOpen(path, flags, permission);
    }
};

} // namespace

// Every attack on the name rule stops the run at its file, before anything
// is created for it and before the client hears of it; files before it
// stay. Also names that Windows would create under another name (trailing
// dots and spaces), not at all (invalid UTF-8, reserved characters,
// devices) or as an earlier file (letter case, beyond ASCII too).
TEST_F(ExtractTest, NamesBreakingTheRuleStopTheRunBeforeAnythingIsCreated)
{
    const std::string tooLong(252, 'x'); // fits a cabinet, not a path below any folder but a root
    const struct {
        std::vector<Stored> files;
        std::vector<std::string> kept; // below the destination a/b/out
    } cases[] = {
        {{{"/abs.txt", CP1252}}, {}},
        {{{"\\abs.txt", CP1252}}, {}},
        {{{"../up.txt", CP1252}}, {}},
        {{{"a/../../up.txt", CP1252}}, {}},
        {{{"a//b.txt", CP1252}}, {}},
        {{{"C:x.txt", CP1252}}, {}},
        {{{"a.txt:stream", CP1252}}, {}},
        {{{"dir/./b.txt", CP1252}}, {}},
        {{{"...", CP1252}}, {}},
        {{{"setup.exe.", CP1252}}, {}},
        {{{"dir /x.txt", CP1252}}, {}},
        {{{"tab\tname", CP1252}}, {}},
        {{{"esc\x1B[2J", CP1252}}, {}},
        {{{"new\nline", CP1252}}, {}},
        {{{"a<b", CP1252}}, {}},
        {{{"what?", CP1252}}, {}},
        {{{"dir/NUL", CP1252}}, {}},
        {{{"com1.log", CP1252}}, {}},
        {{{"COM0", CP1252}}, {}},
        {{{"lpt0.txt", CP1252}}, {}},
        {{{"COM\xB9", CP1252}}, {}},
        {{{"LPT\xC2\xB3.txt", UTF8}}, {}},
        {{{"CONIN$", CP1252}}, {}},
        {{{"conout$.log", CP1252}}, {}},
        {{{"bad\xC3(.txt", UTF8}}, {}},
        {{{"\xC0\xAF"
           "etc",
           UTF8}},
         {}},                               // overlong "/"
        {{{"\xED\xA0\x80.txt", UTF8}}, {}}, // an encoded surrogate
        {{{tooLong, CP1252}}, {}},
        {{{"first.txt", CP1252}, {"../second.txt", CP1252}}, {"first.txt"}},
        {{{"\xC3\x84.txt", UTF8}, {"\xC3\xA4.txt", UTF8}}, {"\xC3\x84.txt"}},
        {{{"Docs/read.me", CP1252}, {"docs/READ.ME", CP1252}}, {"Docs", "Docs/read.me"}},
        {{{"k.txt", CP1252}, {"\xE2\x84\xAA.txt", UTF8}}, {"k.txt"}},
    };
    for (const auto &c : cases) {
        const std::string shown = c.files.back().name;
        const WString package = WritePackage("pkg.exe", CabinetOf(c.files));
        CopyRun run;
        EXPECT_FALSE(run.Copy(package, PathTo("a/b/out/"))) << shown;
        EXPECT_EQ(run.extract.Error.Code, FDIERROR_TARGET_FILE) << shown;
        EXPECT_EQ(run.extract.Error.Detail, ERROR_INVALID_NAME) << shown;
        EXPECT_EQ(run.log.CopyNames.size(), c.files.size() - 1) << shown;
        std::vector<std::string> tree = {"pkg.exe"};
        if (!c.kept.empty()) {
            tree = {"a", "a/b", "a/b/out", "pkg.exe"};
            for (const std::string &kept : c.kept) {
                tree.push_back("a/b/out/" + kept);
            }
            std::sort(tree.begin(), tree.end());
        }
        EXPECT_EQ(ListTree(Dir()), tree) << shown;
        TearDown();
        SetUp();
    }
}

TEST_F(ExtractTest, DirwalkCorpusWritesNothingAnywhere)
{
    std::vector<uint8_t> cabinet;
    ASSERT_TRUE(ReadBytes(WidePath(TestLib::CorpusDir() + "/dirwalk-vulns.cab"), cabinet));
    const WString package = WritePackage("pkg.exe", cabinet);
    CopyRun run;
    EXPECT_FALSE(run.Copy(package, PathTo("a/b/out/")));
    EXPECT_EQ(run.extract.Error.Detail, ERROR_INVALID_NAME);
    EXPECT_EQ(ListTree(Dir()), std::vector<std::string>({"pkg.exe"}));
}

// A header's next-cabinet name is a plain file name beside the first
// cabinet: one that leads elsewhere is refused before it is opened, whether
// Copy moves on to it after a complete cabinet or the decompressor reaches
// for it in the middle of a file. A victim cabinet waits at each target.
TEST_F(ExtractTest, SetMembersLeadingElsewhereAreNeverOpened)
{
    TestLib::CCabBuilder victim;
    victim.AddFile("stolen.txt", Bytes("from the victim"));
    const std::vector<uint8_t> victimCabinet = victim.Build().Bytes;
    const char *names[] = {"../victim.exe", "sub/victim.exe", "sub\\victim.exe", "victim.exe.", "C:victim.exe"};
    for (const char *next : names) {
        WritePackage("victim.exe", victimCabinet);
        WritePackage("set/sub/victim.exe", victimCabinet);
        TestLib::CCabBuilder first;
        first.AddFile("first.txt", Bytes("complete"));
        first.Options().NextCabinet = next;
        WritePackage("set/first.exe", first.Build().Bytes);
        COpenWatch watch;
        watch.Watched = "victim";
        ASSERT_TRUE(watch.Create());
        EXPECT_FALSE(watch.Copy(CStrBufW(PathTo("set/first.exe").c_str()), CStrBufW(PathTo("out/").c_str()), 0))
            << next;
        EXPECT_EQ(watch.Error.Code, ERR_BAD_SET_MEMBER) << next;
        EXPECT_EQ(watch.Error.Detail, ERROR_INVALID_NAME) << next;
        EXPECT_EQ(watch.Opens, 0) << next;
        EXPECT_EQ(ListTree(PathTo("out/")), std::vector<std::string>({"first.txt"})) << next;
        TearDown();
        SetUp();
    }
    // In the middle of a file: the decompressor itself asks for the member.
    TestLib::CCabBuilder spanning;
    spanning.AddFolder(TestLib::CAB_COMPRESS_NONE)
        .AddFile("first.txt", Bytes("complete"))
        .AddFile("big.bin", TestLib::RandomBytes(200000, 3));
    const std::vector<TestLib::CabImage> set = spanning.BuildSet({"s1.exe", "../victim.exe"}, 150000);
    WritePackage("set/s1.exe", set[0].Bytes);
    WritePackage("victim.exe", set[1].Bytes);
    COpenWatch watch;
    watch.Watched = "victim";
    ASSERT_TRUE(watch.Create());
    EXPECT_FALSE(watch.Copy(CStrBufW(PathTo("set/s1.exe").c_str()), CStrBufW(PathTo("out/").c_str()), 0));
    EXPECT_EQ(watch.Error.Code, ERR_BAD_SET_MEMBER);
    EXPECT_EQ(watch.Opens, 0);
    EXPECT_EQ(ListTree(PathTo("out/")), std::vector<std::string>({"first.txt"}));
}

// --- A hostile destination -------------------------------------------------

namespace {

// The tree hostile-destination.sh makes: natively the test makes it, under
// Wine the CTest entry does and names it in SELFEX_HOSTILE_ROOT.
class HostileDestinationTest : public ExtractTest {
protected:
    void SetUp() override
    {
        ExtractTest::SetUp();
        if (const char *root = std::getenv("SELFEX_HOSTILE_ROOT")) {
            m_Root = WIDE("Z:") + WidePath(root) + WIDE("\\");
            return;
        }
#if defined(_WIN32)
        GTEST_SKIP() << "needs the tree of the cabinet_tests_hostile_destination entry";
#else
        m_Root = PathTo("hostile/");
        const std::string make =
            std::string("sh '") + SELFEX_HOSTILE_SCRIPT + "' make '" + FsPath(m_Root).string() + "' 8";
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
#endif
    }
    void TearDown() override
    {
#if !defined(_WIN32)
        if (std::getenv("SELFEX_HOSTILE_ROOT") == nullptr && !m_Root.empty()) {
            const std::string clean =
                std::string("sh '") + SELFEX_HOSTILE_SCRIPT + "' clean '" + FsPath(m_Root).string() + "'";
            EXPECT_EQ(std::system(clean.c_str()), 0);
        }
#endif
        ExtractTest::TearDown();
    }

    // The victims outside the destinations are as they were, and alone.
    ::testing::AssertionResult OutsideUntouched()
    {
        std::vector<uint8_t> bytes;
        if (ListTree(m_Root + WIDE("outside")) !=
            std::vector<std::string>({"hard-victim.txt", "victim-dir", "victim.txt"})) {
            ::testing::AssertionResult failure = ::testing::AssertionFailure() << "outside holds";
            for (const std::string &name : ListTree(m_Root + WIDE("outside"))) {
                failure << " " << name;
            }
            return failure;
        }
        if (!ReadBytes(m_Root + WIDE("outside\\victim.txt"), bytes) || bytes != Bytes("victim") ||
            (GetFileAttributesW((m_Root + WIDE("outside\\victim.txt")).c_str()) & FILE_ATTRIBUTE_READONLY) == 0) {
            return ::testing::AssertionFailure() << "victim.txt changed";
        }
        if (!ReadBytes(m_Root + WIDE("outside\\hard-victim.txt"), bytes) || bytes != Bytes("hard victim")) {
            return ::testing::AssertionFailure() << "hard-victim.txt changed";
        }
        return ::testing::AssertionSuccess();
    }

    WString m_Root;
};

bool RunningUnderWine()
{
#if defined(_WIN32)
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace

// Each row extracts one file into a destination of its own. Wine shows a
// symbolic link to a file as the file itself (no reparse point, the
// target's attributes and link count; its DeleteFileW then deletes the
// target): the extractor sees the link there by the path the opened file
// is known by. A link that leads nowhere Wine does not show at all; its
// CREATE_NEW fails on it (Detail 0), which writes nothing either.
TEST_F(HostileDestinationTest, NothingIsWrittenThroughLinksOrIntoSpecialFiles)
{
    constexpr int32_t COPIED = -1;
    const bool wine = RunningUnderWine();
    const struct {
        const char *name;
        const char *destination;
        int32_t detail; // COPIED, or Detail with Code 8
        int32_t wineDetail;
    } cases[] = {
        {"linked-file.txt", "dest-1", DETAIL_REPARSE_POINT, DETAIL_REPARSE_POINT},
        {"linked-dir/x.txt", "dest-2", DETAIL_REPARSE_POINT, DETAIL_REPARSE_POINT},
        {"dangling.txt", "dest-3", DETAIL_REPARSE_POINT, 0},
        {"hard.txt", "dest-4", COPIED, COPIED},
        {"fifo", "dest-5", DETAIL_NOT_A_FILE, DETAIL_NOT_A_FILE},
        {"readonly.txt", "dest-6", COPIED, COPIED},
        {"new/in-link.txt", "dest-link", COPIED, COPIED}, // the destination itself may be a link
    };
    for (const auto &c : cases) {
        const int32_t detail = wine ? c.wineDetail : c.detail;
        const WString package = WritePackage("pkg.exe", CabinetOf({{c.name, CP1252}}));
        const WString out = m_Root + WidePath(c.destination) + WIDE("\\");
        CopyRun run;
        EXPECT_EQ(run.Copy(package, out), detail == COPIED)
            << c.name << ": Code " << run.extract.Error.Code << ", Detail " << run.extract.Error.Detail;
        if (detail != COPIED) {
            EXPECT_EQ(run.extract.Error.Code, FDIERROR_TARGET_FILE) << c.name;
            EXPECT_EQ(run.extract.Error.Detail, detail) << c.name;
        } else {
            std::vector<uint8_t> bytes;
            EXPECT_TRUE(ReadBytes(out + WidePath(c.name), bytes) && bytes == Bytes(std::string("data of ") + c.name))
                << c.name;
        }
        EXPECT_TRUE(OutsideUntouched()) << c.name;
    }
}

// A full disk: the write fails, the run fails, and no partial file stays.
TEST_F(HostileDestinationTest, FullDiskLeavesNoPartialFile)
{
    const WString full = m_Root + WIDE("full\\");
    if (!PathExists(full)) {
        GTEST_SKIP() << "no tmpfs: mounting is not allowed here";
    }
    TestLib::CCabBuilder builder;
    builder.AddFolder(TestLib::CAB_COMPRESS_MSZIP)
        .AddFile("small.txt", Bytes("fits"))
        .AddFile("big.bin", TestLib::RandomBytes(300000, 5));
    const WString package = WritePackage("pkg.exe", builder.Build().Bytes);
    CopyRun run;
    EXPECT_FALSE(run.Copy(package, full));
    EXPECT_TRUE(run.extract.Error.HasError());
    EXPECT_EQ(ListTree(full), std::vector<std::string>({"small.txt"}));
}
