// Cabinet stream handlers: the header search, the header check, positions
// shifted by the cabinet base, closes, and the write handler's sink and
// progress reports. None of these needs the decompressor.
#include <cstring>

#include "cabinet/Extract.h"
#include "tests/cabinet/ExtractFixture.h"
#include "tests/testlib/CabBuilder.h"

using namespace Cabinet;

namespace {

constexpr int READ_FLAGS = _O_BINARY | _O_SEQUENTIAL;
constexpr int OUTPUT_FLAGS = _O_BINARY | _O_TRUNC | _O_CREAT | _O_SEQUENTIAL | _O_WRONLY;

std::vector<uint8_t> SmallCabinet()
{
    TestLib::CCabBuilder builder;
    builder.AddFile("a.txt", TestLib::Bytes("alpha"));
    return builder.Build().Bytes;
}

// The first four bytes an opened handle reads, or "" when the read fails.
std::string FirstBytes(CTestExtract &extract, int32_t handle)
{
    char bytes[4];
    return extract.OnRead(handle, bytes, 4) == 4 ? std::string(bytes, 4) : std::string();
}

} // namespace

// Where a package's cabinet may start: from 160000 to 160000 + 65529. The
// last three window positions are out although "MSCF" would still fit.
TEST_F(ExtractTest, HeaderSearchFindsCabinetsInsideTheWindowOnly)
{
    const struct {
        size_t offset;
        bool found;
    } cases[] = {{160000, true},  {160001, true},  {225529, true}, {225530, false},
                 {225531, false}, {225532, false}, {240000, false}};
    for (const auto &c : cases) {
        const WString package = WritePackage("p" + std::to_string(c.offset), SmallCabinet(), c.offset);
        CTestExtract extract;
        const int32_t handle = extract.OpenStream(package.c_str(), READ_FLAGS, _S_IREAD);
        ASSERT_GT(handle, 0);
        EXPECT_EQ(extract.Positions().Get(handle), 0) << c.offset;
        EXPECT_EQ(extract.CabinetBase(), c.found ? static_cast<int32_t>(c.offset) : 0) << c.offset;
        // Found: the handle stands at the header. Not found: behind the
        // window, where no header is, so the first read is refused.
        EXPECT_EQ(FirstBytes(extract, handle), c.found ? "MSCF" : "") << c.offset;
        EXPECT_EQ(extract.OnClose(handle), 0);
        EXPECT_EQ(extract.Positions().Count(), 0);
    }
}

TEST_F(ExtractTest, HeaderSearchTakesLowestMatchAndIgnoresEarlierOnes)
{
    std::vector<uint8_t> package = TestLib::EmbedAtOffset(SmallCabinet(), CABINET_SEARCH_START + 300);
    std::memcpy(&package[100], "MSCF", 4);                         // in the stub: never looked at
    std::memcpy(&package[CABINET_SEARCH_START + 9000], "MSCF", 4); // a later match inside the window
    const WString path = PathTo("two.exe");
    ASSERT_TRUE(WriteBytes(path, package));
    CTestExtract extract;
    const int32_t handle = extract.OpenStream(path.c_str(), READ_FLAGS, _S_IREAD);
    EXPECT_EQ(extract.CabinetBase(), CABINET_SEARCH_START + 300);
    extract.OnClose(handle);
}

// All tracked handles share one base: a later open without a match (a short
// file, or a cabinet outside the window) keeps the earlier base.
TEST_F(ExtractTest, FailedSearchKeepsTheEarlierBase)
{
    const WString first = WritePackage("first.exe", SmallCabinet(), CABINET_SEARCH_START + 7);
    const WString outside = WritePackage("outside.exe", SmallCabinet(), 300000);
    const WString shortFile = WritePackage("short.cab", SmallCabinet(), 0);
    CTestExtract extract;
    for (const WString *path : {&first, &outside, &shortFile}) {
        const int32_t handle = extract.OpenStream(path->c_str(), READ_FLAGS, _S_IREAD);
        ASSERT_GT(handle, 0);
        EXPECT_EQ(extract.Positions().Get(handle), 0);
        EXPECT_EQ(extract.CabinetBase(), CABINET_SEARCH_START + 7);
        extract.OnClose(handle);
    }
}

// An output open (_S_IWRITE) is neither searched nor tracked: plain seeks.
TEST_F(ExtractTest, OutputOpenIsNotTracked)
{
    const WString package = WritePackage("pkg.exe", SmallCabinet(), CABINET_SEARCH_START + 50);
    CTestExtract extract;
    extract.OnClose(extract.OpenStream(package.c_str(), READ_FLAGS, _S_IREAD));
    const int32_t output = extract.OpenStream(PathTo("out.bin").c_str(), OUTPUT_FLAGS, _S_IREAD | _S_IWRITE);
    ASSERT_GT(output, 0);
    EXPECT_EQ(extract.Positions().Get(output), -1);
    EXPECT_EQ(extract.OnSeek(output, 10, SEEK_SET), 10);
    EXPECT_EQ(extract.Positions().Count(), 0);
    extract.OnClose(output);
}

// Reads at logical position 0 must start with "MSCF"; "CRYP" is an
// enciphered cabinet. Reads of fewer than 4 bytes pass unchecked.
TEST_F(ExtractTest, ReadAtLogicalZeroChecksTheMagic)
{
    const struct {
        const char *content;
        uint32_t count;
        int32_t result;
        int32_t code;
    } cases[] = {{"MSCFxxxx", 8, 8, 0},
                 {"CRYPxxxx", 8, -1, ERR_ENCIPHERED},
                 {"MSCExxxx", 8, -1, FDIERROR_NOT_A_CABINET},
                 {"mscfxxxx", 8, -1, FDIERROR_NOT_A_CABINET},
                 {"XYZ", 3, 3, 0}};
    for (const auto &c : cases) {
        const WString path = PathTo("magic.bin");
        ASSERT_TRUE(WriteBytes(path, TestLib::Bytes(c.content)));
        CTestExtract extract;
        const int32_t handle = extract.OpenStream(path.c_str(), READ_FLAGS, _S_IREAD);
        char buffer[8];
        for (int pass = 0; pass < 2; ++pass) { // a seek back to 0 is checked again
            EXPECT_EQ(extract.OnSeek(handle, 0, SEEK_SET), 0);
            extract.Error.Reset();
            EXPECT_EQ(extract.OnRead(handle, buffer, c.count), c.result) << c.content;
            EXPECT_EQ(extract.Error.Code, c.code) << c.content;
            EXPECT_EQ(extract.Positions().Get(handle), static_cast<int32_t>(c.count));
        }
        extract.OnClose(handle);
    }
}

TEST_F(ExtractTest, SeeksOnTrackedHandlesCountFromTheBase)
{
    const std::vector<uint8_t> cabinet = SmallCabinet();
    const int32_t base = CABINET_SEARCH_START + 123;
    const WString package = WritePackage("pkg.exe", cabinet, static_cast<size_t>(base));
    CTestExtract extract;
    const int32_t handle = extract.OpenStream(package.c_str(), READ_FLAGS, _S_IREAD);
    EXPECT_EQ(extract.OnSeek(handle, 100, SEEK_SET), 100);
    EXPECT_EQ(extract.OnSeek(handle, 10, SEEK_CUR), 110);
    EXPECT_EQ(extract.RawSeek(handle, 0, SEEK_CUR), base + 110); // moved once
    EXPECT_EQ(extract.OnSeek(handle, 0, SEEK_SET), 0);
    EXPECT_EQ(extract.RawSeek(handle, 0, SEEK_CUR), base);
    EXPECT_EQ(extract.OnSeek(handle, 0, SEEK_END), static_cast<int32_t>(cabinet.size()));
    EXPECT_EQ(extract.Positions().Get(handle), static_cast<int32_t>(cabinet.size()));
    // A failed seek stays -1 instead of turning into a position.
    extract.SeeksBeforeFailure = 0;
    EXPECT_EQ(extract.OnSeek(handle, 5, SEEK_SET), -1);
    EXPECT_EQ(extract.Positions().Get(handle), static_cast<int32_t>(cabinet.size()));
    extract.SeeksBeforeFailure = -1;
    extract.OnClose(handle);
}

TEST_F(ExtractTest, CloseIgnoresNonDescriptorsAndDeletesAnUnfinishedOutput)
{
    CTestExtract extract;
    extract.Positions().Set(7, 70);
    for (int32_t handle : {0, -1, PSEUDO_HANDLE_BASE}) {
        EXPECT_EQ(extract.OnClose(handle), 0);
    }
    EXPECT_EQ(extract.RawCloses, 0);
    EXPECT_EQ(extract.Positions().Count(), 1);
    extract.Positions().Clear();

    // The current output file closed by anyone but its close notification
    // did not get all its bytes: it goes.
    const WString other = PathTo("other.bin");
    const WString current = PathTo("current.bin");
    const int32_t otherHandle = extract.OpenStream(other.c_str(), OUTPUT_FLAGS, _S_IREAD | _S_IWRITE);
    const int32_t currentHandle = extract.OpenStream(current.c_str(), OUTPUT_FLAGS, _S_IREAD | _S_IWRITE);
    extract.Current().Handle = currentHandle;
    extract.Current().OutPath.Assign(current.c_str());
    extract.OnClose(otherHandle);
    EXPECT_EQ(extract.Current().Handle, currentHandle);
    extract.OnClose(currentHandle);
    EXPECT_EQ(extract.Current().Handle, 0);
    EXPECT_EQ(extract.Current().OutPath.Data[0], 0);
    EXPECT_TRUE(PathExists(other));
    EXPECT_FALSE(PathExists(current));
}

TEST_F(ExtractTest, InMemoryWritesStopAtTheSinkCapacity)
{
    CTestExtract extract;
    extract.SetInMemory(true);
    extract.Sink().Reset(10);
    EXPECT_EQ(extract.OnWrite(PSEUDO_HANDLE_BASE, "abcd", 4), 4);
    EXPECT_EQ(extract.OnWrite(PSEUDO_HANDLE_BASE, "efghij", 6), 6);
    EXPECT_EQ(extract.Error.Code, 0);
    EXPECT_EQ(extract.OnWrite(PSEUDO_HANDLE_BASE, "k", 1), -1);
    EXPECT_EQ(extract.Error.Code, ERR_MEMORY_FULL);
    EXPECT_EQ(extract.Sink().Used(), 10);
}

namespace {

std::vector<ProgressInfo> g_Reports;

// An extractor writing a current output file, with its progress reports
// collected in g_Reports.
struct ProgressTest : ExtractTest {
    CTestExtract extract;
    int32_t handle = 0;

    void Open(uint32_t size, uint32_t interval)
    {
        g_Reports.clear();
        extract.Callbacks.OnProgress = [](const ProgressInfo *info, intptr_t) { g_Reports.push_back(*info); };
        extract.Callbacks.ProgressIntervalMs = interval;
        const WString path = PathTo("progress.bin");
        handle = extract.OpenStream(path.c_str(), OUTPUT_FLAGS, _S_IREAD | _S_IWRITE);
        extract.Current().Handle = handle;
        extract.Current().Size = size;
        extract.Current().OutPath.Assign(path.c_str());
    }
    // Writes n bytes with the last report ago milliseconds back; true when
    // the write made a report.
    bool WriteAgo(uint32_t n, uint32_t ago)
    {
        const size_t before = g_Reports.size();
        extract.Current().LastTick = GetTickCount() - ago;
        const std::vector<uint8_t> bytes(n, 'x');
        EXPECT_EQ(extract.OnWrite(handle, bytes.data(), n), static_cast<int32_t>(n));
        return g_Reports.size() > before;
    }
    void TearDown() override
    {
        extract.Current().Handle = 0; // not a failed run: keep the file
        extract.OnClose(handle);
        ExtractTest::TearDown();
    }
};

} // namespace

// Reports wait more than ProgressIntervalMs since the last one, except the
// one that completes the file; the tick difference wraps as a signed number.
TEST_F(ProgressTest, ReportsAreThrottledExceptTheLast)
{
    Open(100, 200);
    EXPECT_FALSE(WriteAgo(10, 100));
    EXPECT_TRUE(WriteAgo(10, 250));
    EXPECT_FALSE(WriteAgo(10, static_cast<uint32_t>(-100))); // last report "in the future"
    EXPECT_TRUE(WriteAgo(10, 0x80000000u));                  // the largest distance there is
    // Exactly the interval is not enough; retried until no tick passed.
    for (;;) {
        const uint32_t tick = GetTickCount();
        const bool reported = WriteAgo(1, 200);
        if (GetTickCount() == tick) {
            EXPECT_FALSE(reported);
            break;
        }
    }
    EXPECT_TRUE(WriteAgo(59, 0)); // completes the file
    ASSERT_EQ(g_Reports.size(), 3u);
    EXPECT_EQ(g_Reports.back().Written, 100u);
    EXPECT_EQ(g_Reports.back().Size, 100u);
    EXPECT_EQ(extract.Current().Received, 100u);
}

// Unless the client says otherwise, reports come at most every 200 ms.
TEST_F(ProgressTest, DefaultIntervalIs200Milliseconds)
{
    Open(100, ExtractCallbacks().ProgressIntervalMs);
    EXPECT_FALSE(WriteAgo(10, 175));
    EXPECT_TRUE(WriteAgo(10, 225));
}

TEST_F(ProgressTest, ZeroIntervalReportsEveryWrite)
{
    Open(3, 0);
    EXPECT_TRUE(WriteAgo(1, 0));
    EXPECT_TRUE(WriteAgo(1, 0));
    EXPECT_EQ(g_Reports[0].Percent, static_cast<float>(100.0 / 3.0));
}

TEST_F(ProgressTest, PercentOfHugeFilesStaysPositive)
{
    Open(3221225472u, 0);
    extract.Current().Written = 2147483647u;
    EXPECT_TRUE(WriteAgo(1, 0));
    EXPECT_NEAR(g_Reports[0].Percent, 66.67f, 0.01f);
}

// The byte count that tells a complete file from a short one does not
// depend on a progress callback.
TEST_F(ProgressTest, BytesAreCountedWithoutProgressCallback)
{
    Open(10, 0);
    extract.Callbacks.OnProgress = nullptr;
    EXPECT_FALSE(WriteAgo(4, 0));
    EXPECT_EQ(extract.Current().Received, 4u);
    EXPECT_EQ(extract.Current().Written, 0u);
}
