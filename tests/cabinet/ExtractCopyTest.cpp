// Copy: output below the destination with the stored tree, times and
// attributes; the client callbacks; Abort; in-memory mode; cabinet sets; and
// the failures -- refused names, unusable destinations, faults of the raw
// I/O -- none of which may leave a partial file behind.
#include <functional>

#include "cabinet/Extract.h"
#include "tests/cabinet/ExtractFixture.h"
#include "tests/cabinet/RecordedTimes.h"
#include "tests/cabinet/WideTestText.h"
#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/CorpusExpect.h"

using namespace Cabinet;
using TestLib::Bytes;

namespace {

constexpr uint16_t DATE = 0x5A8E; // 2025-04-14
constexpr uint16_t TIME = 0x6B2F; // 13:25:30

struct StoredFile {
    std::string name; // as stored
    std::vector<uint8_t> data;
    uint16_t attribs;
    const char *outPath; // expected path below the destination (UTF-8)
};

std::vector<StoredFile> SampleFiles()
{
    return {
        {"a.txt", Bytes("alpha"), 0x21, "a.txt"},
        {"dir/sub\\b.bin", TestLib::PatternBytes(70000, 5), 0x20 | 0x02, "dir/sub/b.bin"},
        {"empty", {}, 0x00, "empty"},
        {"caf\xE9.txt", Bytes("latin"), 0x20, "caf\xC3\xA9.txt"},                      // code page 1252
        {"\xC3\xA9t\xC3\xA9.txt", Bytes("utf"), 0x20 | 0x80, "\xC3\xA9t\xC3\xA9.txt"}, // UTF-8 bit
        {"x/exec.bin", Bytes("run"), 0x40 | 0x100 | 0x04, "x/exec.bin"},               // never run; UTC time
    };
}

std::vector<uint8_t> CabinetOf(const std::vector<StoredFile> &files, uint16_t compress = TestLib::CAB_COMPRESS_MSZIP)
{
    TestLib::CCabBuilder builder;
    builder.AddFolder(compress);
    for (const StoredFile &file : files) {
        builder.AddFile(file.name, file.data, file.attribs, DATE, TIME);
    }
    return builder.Build().Bytes;
}

} // namespace

TEST_F(ExtractTest, CopyWritesTreeTimesAndAttributes)
{
    const std::vector<StoredFile> files = SampleFiles();
    const WString package = WritePackage("pkg.exe", CabinetOf(files));
    const WString out = PathTo("out"); // without backslash: Copy adds it
    CopyRun run;
#if defined(SELFEX_RECORDED_TIMES)
    const RecordedTimes before = RecordedTimeCalls();
#endif
    ASSERT_TRUE(run.Copy(package, out)) << run.extract.Error.Code;
    ASSERT_EQ(run.log.CopyNames.size(), files.size());
#if defined(SELFEX_RECORDED_TIMES)
    // The file cannot show its creation time here: every file's call must
    // have set it to the stored time, as the last-write time.
    EXPECT_EQ(RecordedTimeCalls().Calls - before.Calls, files.size());
    EXPECT_EQ(RecordedTimeCalls().CreationDiffers, before.CreationDiffers);
#endif
    for (size_t i = 0; i < files.size(); ++i) {
        const WString path = out + WIDE("\\") + WidePath(files[i].outPath);
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(ReadBytes(path, bytes) && bytes == files[i].data) << files[i].outPath;
        EXPECT_TRUE(HasStoredTimeAndAttributes(path, DATE, TIME, files[i].attribs)) << files[i].outPath;
        EXPECT_EQ(run.log.CopyNames[i], WidePath(files[i].outPath));
        EXPECT_EQ(run.log.DonePaths[i], path);
    }
    // The texts OnCopyFile gets for a file two folders down.
    const CopyRecord &nested = run.log.Copies[1];
    EXPECT_EQ(nested.Name, WIDE("b.bin"));
    EXPECT_EQ(nested.RelDir, WIDE("dir\\sub\\"));
    EXPECT_EQ(nested.OutDir, out + WIDE("\\dir\\sub\\"));
    EXPECT_EQ(nested.OutPath, out + WIDE("\\dir\\sub\\b.bin"));
    EXPECT_EQ(run.log.Copies[0].RelDir, WIDE(""));
    // The empty file gets exactly one report, its first.
    int emptyReports = 0;
    for (const ProgressInfo &info : run.log.Progress) {
        emptyReports += info.Size == 0;
    }
    EXPECT_EQ(emptyReports, 1);
    EXPECT_EQ(run.log.Progress.front().Written, 0u);
    EXPECT_EQ(run.log.Progress.front().Percent, 0.0f);
}

TEST_F(ExtractTest, SkippedFileLeavesNoTraceAndOthersFollow)
{
    const WString package = WritePackage("pkg.exe", CabinetOf(SampleFiles()));
    CopyRun run;
    run.log.SkipIndex = 1; // dir/sub/b.bin
    EXPECT_TRUE(run.Copy(package, PathTo("out/")));
    EXPECT_FALSE(PathExists(PathTo("out/dir")));
    EXPECT_TRUE(PathExists(PathTo("out/x/exec.bin")));
    EXPECT_EQ(run.log.DonePaths.size(), SampleFiles().size() - 1);
}

// A read-only file of the same name from an earlier run is replaced.
TEST_F(ExtractTest, ReadOnlyFileIsReplaced)
{
    const WString package = WritePackage("pkg.exe", CabinetOf(SampleFiles()));
    const WString target = PathTo("out/a.txt");
    CopyRun first;
    ASSERT_TRUE(first.Copy(package, PathTo("out/")));
    ASSERT_TRUE(WriteBytes(target, Bytes("old")) || true);
    ASSERT_NE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    first.extract.Destroy();
    CopyRun second;
    EXPECT_TRUE(second.Copy(package, PathTo("out/")));
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadBytes(target, bytes) && bytes == Bytes("alpha"));
}

// A stop requested from a callback ends the run at the next notification;
// the file under way then was not accepted and goes, files completed before
// stay, and the next Copy starts afresh.
TEST_F(ExtractTest, AbortFromEachCallbackStopsTheRun)
{
    const struct {
        const char *callback;
        std::vector<const char *> kept;
    } cases[] = {{"OnCabinetInfo", {}}, {"OnCopyFile", {}}, {"OnProgress", {}}, {"OnFileDone", {"a.txt"}}};
    const WString package = WritePackage("pkg.exe", CabinetOf(SampleFiles()));
    for (const auto &c : cases) {
        const WString out = PathTo(std::string("out-") + c.callback + "/");
        CopyRun run;
        run.log.AbortFrom = &run.extract;
        run.log.AbortIn = c.callback;
        EXPECT_FALSE(run.Copy(package, out)) << c.callback;
        EXPECT_EQ(run.extract.Error.Code, 0) << c.callback;
        std::vector<std::string> kept(c.kept.begin(), c.kept.end());
        EXPECT_EQ(ListTree(out), kept) << c.callback;
        run.log.AbortIn = "";
        EXPECT_TRUE(run.Copy(package, out)) << c.callback;
    }
}

TEST_F(ExtractTest, InMemoryModeHandsEachFileToOnFileDone)
{
    const std::vector<StoredFile> files = SampleFiles();
    const WString package = WritePackage("pkg.exe", CabinetOf(files));
    CopyRun run;
    EXPECT_TRUE(run.Copy(package, WIDE("memory")));
    EXPECT_FALSE(PathExists(WIDE("memory")));
    EXPECT_TRUE(run.log.Progress.empty());
    ASSERT_EQ(run.log.DoneBytes.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_TRUE(run.log.DoneBytes[i] == files[i].data) << files[i].outPath;
        EXPECT_EQ(run.log.DonePaths[i], WIDE("memory\\") + WidePath(files[i].outPath));
    }
}

// A 78-byte cabinet declaring a file of 2 GB costs no 2 GB: memory follows
// the bytes that arrive.
TEST_F(ExtractTest, InMemoryModeAllocatesWhatArrivesNotWhatAHeaderDeclares)
{
    std::vector<uint8_t> cabinet;
    ASSERT_TRUE(ReadBytes(WidePath(TestLib::CorpusDir() + "/filename-read-violation-2.cab"), cabinet));
    const WString package = WritePackage("pkg.exe", cabinet);
    CopyRun run;
    EXPECT_FALSE(run.Copy(package, WIDE("memory")));
    EXPECT_LT(run.extract.Sink().Allocated(), 1u << 20);
}

// A folder or a name shorter than two characters is refused before any
// open; two of each pass the check (and fail later, the file being absent).
TEST_F(ExtractTest, CabinetPathWithoutDirectoryIsRefused)
{
    const struct {
        const WCHAR *path;
        bool refused;
    } cases[] = {{WIDE("pkg.exe"), true}, {WIDE("\\pkg.exe"), true}, {WIDE("ab\\c"), true}, {WIDE("ab\\cd"), false}};
    for (const auto &c : cases) {
        CopyRun run;
        EXPECT_FALSE(run.Copy(c.path, PathTo("out/")));
        EXPECT_EQ(run.extract.Error.Code == ERR_BAD_PATH, c.refused) << run.extract.Error.Code;
    }
}

// Only read-only, hidden, system and archive are applied; the other stored
// bits say how to read the entry or ask to run the file.
TEST(AppliedAttributes, KeepOnlyTheFourFileBits)
{
    EXPECT_EQ(AppliedAttributes(0xFFFF), 0x27);
    EXPECT_EQ(AppliedAttributes(0x40 | 0x80 | 0x100 | 0x01), 0x01);
    EXPECT_EQ(AppliedAttributes(0x10 | 0x08), 0x00);
}

// The first byte-progress report of a file is its open; later ones wait the
// interval from there, so a file written within it gets two reports.
TEST_F(ExtractTest, ProgressIntervalRunsFromTheFileOpen)
{
    const WString package =
        WritePackage("pkg.exe", CabinetOf({{"big.bin", TestLib::PatternBytes(200000, 3), 0x20, "big.bin"}}));
    CopyRun run;
    // Longer than the run, shorter than the time since the clock started.
    run.extract.Callbacks.ProgressIntervalMs = 20000;
    ASSERT_TRUE(run.Copy(package, PathTo("out/")));
    ASSERT_EQ(run.log.Progress.size(), 2u);
    EXPECT_EQ(run.log.Progress[0].Written, 0u);
    EXPECT_EQ(run.log.Progress[1].Written, 200000u);
}

// A file that received fewer bytes than its entry declares is not accepted
// at its close notification, on disk or in memory.
TEST_F(ExtractTest, ShortFileIsRefusedAtItsCloseNotification)
{
    const WString package = WritePackage("pkg.exe", CabinetOf({{"f.bin", TestLib::PatternBytes(50000, 4), 0x20, ""}}));
    {
        CopyRun run;
        // One byte more declared than the decompressor will write.
        run.log.OnFileOpened = [&](const ProgressInfo &) { ++run.extract.Current().Size; };
        EXPECT_FALSE(run.Copy(package, PathTo("out/")));
        EXPECT_EQ(run.extract.Error.Code, FDIERROR_TARGET_FILE);
        EXPECT_EQ(ListTree(PathTo("out/")), std::vector<std::string>());
        EXPECT_TRUE(run.log.DonePaths.empty());
    }

    // In memory: the close notification is driven by hand, after five of
    // the ten declared bytes.
    CopyRun memory;
    memory.extract.Callbacks = ExtractCallbacks(); // no log outside Copy
    memory.extract.SetInMemory(true);
    char name[] = "m.bin";
    FDINOTIFICATION note{};
    note.psz1 = name;
    note.cb = 10;
    const intptr_t handle = memory.extract.OnNotify(fdintCOPY_FILE, &note);
    ASSERT_LT(handle, 0);
    EXPECT_EQ(memory.extract.OnWrite(static_cast<int32_t>(handle), "12345", 5), 5);
    note.hf = handle;
    EXPECT_EQ(memory.extract.OnNotify(fdintCLOSE_FILE_INFO, &note), -1);
    EXPECT_EQ(memory.extract.Error.Code, FDIERROR_TARGET_FILE);
}

// A next cabinet the decompressor could not use still replaces the name
// Copy would go on with; the run stops.
TEST_F(ExtractTest, FailedNextCabinetNotificationKeepsItsName)
{
    CopyRun run;
    char next[] = "next.cab", disk[] = "", path[] = "";
    FDINOTIFICATION note{};
    note.psz1 = next;
    note.psz2 = disk;
    note.psz3 = path;
    note.fdie = FDIERROR_WRONG_CABINET;
    EXPECT_EQ(run.extract.OnNotify(fdintNEXT_CABINET, &note), -1);
    EXPECT_EQ(WString(run.extract.NextCabinet().Data), WIDE("next.cab"));
    EXPECT_EQ(run.extract.Error.Code, FDIERROR_WRONG_CABINET);
}

// Destinations that cannot be used: the code and detail say where it broke.
TEST_F(ExtractTest, UnusableDestinationsFailTheFirstFile)
{
    const WString package = WritePackage("pkg.exe", CabinetOf({{"f.txt", Bytes("x"), 0x20, ""}}));
    ASSERT_TRUE(WriteBytes(PathTo("blocker"), Bytes("a file")));
    const struct {
        const char *what;
        WString destination;
        bool failOpen;
        int32_t detail; // -1: any platform error
    } cases[] = {{"missing drive", WIDE("Q:\\nowhere\\"), false, ERROR_INVALID_DRIVE},
                 {"a file in the way", PathTo("blocker/out/"), false, -1},
                 {"output does not open", PathTo("out/"), true, 0}};
    for (const auto &c : cases) {
        CopyRun run;
        run.extract.FailOutputOpens = c.failOpen;
        EXPECT_FALSE(run.Copy(package, c.destination)) << c.what;
        EXPECT_EQ(run.extract.Error.Code, FDIERROR_TARGET_FILE) << c.what;
        if (c.detail >= 0) {
            EXPECT_EQ(run.extract.Error.Detail, c.detail) << c.what;
        } else {
            EXPECT_NE(run.extract.Error.Detail, 0) << c.what;
        }
    }
    // A stored name ending in a separator: its directory is made, the open
    // of a file without a name fails.
    const WString dirOnly = WritePackage("dir.exe", CabinetOf({{"d/", Bytes(""), 0x20, ""}}));
    CopyRun run;
    EXPECT_FALSE(run.Copy(dirOnly, PathTo("out2/")));
    EXPECT_EQ(run.extract.Error.Code, FDIERROR_TARGET_FILE);
    EXPECT_EQ(run.extract.Error.Detail, 0);
    EXPECT_TRUE(PathExists(PathTo("out2/d")));
}
