// FDICreate, FDIIsCabinet and FDIDestroy, and cabinets embedded in larger
// files (the extractor shifts every seek by the cabinet's offset).
//
// Known differences against Wine's Cabinet.dll (these tests run there too):
//   - Wine leaves the ERF untouched by a successful FDICreate (current
//     Windows zeroes it) and returns a context for a NULL ERF (current
//     Windows returns NULL).
#include <gtest/gtest.h>

#include <cstring>

#include "tests/fdi/FdiTestClient.h"
#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/CorpusExpect.h"
#include "tests/testlib/Sha256.h"

using namespace FdiTest;
using namespace TestLib;

namespace {

CabImage ChainedCabinet()
{
    CabOptions options;
    options.SetId = 0x3333;
    options.CabinetIndex = 2;
    options.PrevCabinet = "p.cab";
    options.PrevDisk = "Disk1";
    options.NextCabinet = "n.cab";
    options.NextDisk = "";
    options.HeaderReserve = 20;
    options.FolderReserve = 7;
    options.DataReserve = 3;
    CCabBuilder builder(options);
    builder.AddFile("a.txt", Bytes("hello\n")).AddFolder().AddFile("b.txt", Bytes("world\n"));
    return builder.Build();
}

} // namespace

TEST(FdiApi, IsCabinetReportsTheHeader)
{
    CabImage image = ChainedCabinet();
    CFdiTestClient client;
    client.AddFile("c.cab", image.Bytes);
    FDICABINETINFO info;
    std::memset(&info, 0x55, sizeof(info));
    ASSERT_TRUE(client.IsCabinet("c.cab", &info));
    EXPECT_EQ(info.cbCabinet, int32_t(image.Bytes.size()));
    EXPECT_EQ(info.cFolders, 2);
    EXPECT_EQ(info.cFiles, 2);
    EXPECT_EQ(info.setID, 0x3333);
    EXPECT_EQ(info.iCabinet, 2);
    EXPECT_EQ(info.fReserve, 1);
    EXPECT_EQ(info.hasprev, 1);
    EXPECT_EQ(info.hasnext, 0); // Cabinet.dll's answer, whatever the header says
    // Only read and seek were used, and the handle stands behind the header
    // (after the names): nothing of the tables was taken.
    int64_t end = 0;
    for (const IoCall &call : client.IoLog()) {
        EXPECT_TRUE(call.Kind == 'o' || call.Kind == 'r' || call.Kind == 's') << call.Kind;
        if (call.Kind == 'r') {
            end = call.Position + call.Result;
        }
        if (call.Kind == 's') {
            end = call.Result;
        }
    }
    EXPECT_EQ(size_t(end), image.Layout.Folders[0]);
}

TEST(FdiApi, IsCabinetRefusesWhatIsNotACabinet)
{
    struct Case {
        const char *What;
        std::vector<uint8_t> Bytes;
    };
    std::vector<uint8_t> cabinet = ChainedCabinet().Bytes;
    std::vector<uint8_t> lower = cabinet, newer = cabinet, cutName = cabinet;
    lower[0] = 'm';
    newer[CAB_OFF_VERSION_MINOR] = 4;
    cutName.resize(36 + 4 + 20 + 3);
    Case cases[] = {
        {"empty", {}},
        {"35 bytes", std::vector<uint8_t>(cabinet.begin(), cabinet.begin() + 35)},
        {"mscf", lower},
        {"version 1.4", newer},
        {"previous name cut", cutName},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        CFdiTestClient client;
        client.AddFile("x.cab", c.Bytes);
        FDICABINETINFO info;
        std::memset(&info, 0x55, sizeof(info));
        EXPECT_FALSE(client.IsCabinet("x.cab", &info));
        // Neither the result nor the error block is touched.
        EXPECT_EQ(info.cFiles, 0x5555);
        EXPECT_EQ(client.Erf().fError, 0);
    }
}

TEST(FdiApi, IsCabinetReadsFromTheHandlesPosition)
{
    std::vector<uint8_t> cabinet = ChainedCabinet().Bytes;
    CFdiTestClient client;
    client.AddFile("e.bin", EmbedAtOffset(cabinet, 1000));
    FDICABINETINFO info;
    EXPECT_FALSE(client.IsCabinet("e.bin", &info, 0));
    EXPECT_TRUE(client.IsCabinet("e.bin", &info, 1000));
    EXPECT_EQ(info.cFiles, 2);
}

TEST(FdiApi, CreateAndDestroy)
{
    ERF erf;
    std::memset(&erf, 0x5A, sizeof(erf));
    CFdiTestClient client; // provides the callbacks
    HFDI context = FDICreate(CFdiTestClient::Alloc, CFdiTestClient::Free, CFdiTestClient::Open, CFdiTestClient::Read,
                             CFdiTestClient::Write, CFdiTestClient::Close, CFdiTestClient::Seek, int(0xCAFEBABE), &erf);
    ASSERT_NE(context, nullptr); // any processor type is accepted
    if (!FDI_UNDER_TEST_IS_WINE) {
        EXPECT_EQ(erf.erfOper, 0);
        EXPECT_EQ(erf.fError, 0);
        EXPECT_EQ(FDICreate(CFdiTestClient::Alloc, CFdiTestClient::Free, CFdiTestClient::Open, CFdiTestClient::Read,
                            CFdiTestClient::Write, CFdiTestClient::Close, CFdiTestClient::Seek, cpu80386, nullptr),
                  nullptr);
    }
    EXPECT_EQ(client.LiveAllocations(), 1);
    EXPECT_TRUE(FDIDestroy(context));
    EXPECT_EQ(client.LiveAllocations(), 0);

    client.FailAllocation = client.TotalAllocations() + 1;
    EXPECT_EQ(FDICreate(CFdiTestClient::Alloc, CFdiTestClient::Free, CFdiTestClient::Open, CFdiTestClient::Read,
                        CFdiTestClient::Write, CFdiTestClient::Close, CFdiTestClient::Seek, cpu80386, &erf),
              nullptr);
    EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
    EXPECT_TRUE(erf.fError);
}

TEST(FdiApi, SuccessLeavesTheErrorBlockAlone)
{
    CFdiTestClient client;
    client.AddFile("c\\t.cab", ChainedCabinet().Bytes);
    ASSERT_TRUE(client.Copy("t.cab", "c\\")); // creates the context
    client.FillErf(77);
    EXPECT_TRUE(client.Copy("t.cab", "c\\"));
    EXPECT_EQ(client.Erf().erfOper, 77);
    EXPECT_EQ(client.Erf().fError, 77);
}

TEST(FdiApi, EmbeddedCorpusCabinetsExtractAtTheirOffsets)
{
    // The extractor finds an embedded cabinet, then shifts every seek by its
    // offset: FDI must use only positions it learnt from the cabinet.
    std::vector<ManifestEntry> manifest;
    std::string error;
    ASSERT_TRUE(ReadManifest(CorpusDir() + "/MANIFEST.tsv", &manifest, &error)) << error;
    int cabinets = 0;
    for (const ManifestEntry &entry : manifest) {
        if (entry.Validity != "embedded") {
            continue;
        }
        std::vector<ExpectedEntry> expected;
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadExpected(CorpusDir() + "/" + entry.File + ".expected.tsv", &expected, &error)) << error;
        ASSERT_TRUE(ReadWholeFile(CorpusDir() + "/" + entry.File, &bytes));
        std::vector<uint64_t> offsets;
        for (const ExpectedEntry &row : expected) {
            if (offsets.empty() || offsets.back() != row.CabOffset) {
                offsets.push_back(row.CabOffset);
            }
        }
        for (uint64_t offset : offsets) {
            SCOPED_TRACE(entry.File + " at " + std::to_string(offset));
            CFdiTestClient client;
            client.AddFile("c\\" + entry.File, bytes, int64_t(offset));
            EXPECT_TRUE(client.Copy(entry.File, "c\\"));
            size_t index = 0;
            for (const ExpectedEntry &row : expected) {
                if (row.CabOffset != offset) {
                    continue;
                }
                ASSERT_LT(index, client.Outputs().size());
                const Output &output = client.Outputs()[index++];
                EXPECT_EQ(output.Name, row.NameBytes);
                EXPECT_EQ(Sha256Hex(output.Data), row.Sha256);
            }
            EXPECT_EQ(index, client.Outputs().size());
            ++cabinets;
        }
    }
    EXPECT_GE(cabinets, 3);
}
