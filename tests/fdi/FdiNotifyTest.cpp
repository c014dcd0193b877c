// The notification dialogue of FDICopy: order and fields of every
// notification, the meaning of the client's answers, aborts at every
// notification, and the NEXT_CABINET dialogue when the next cabinet is
// missing, elsewhere or wrong.
//
// Known differences against Wine's Cabinet.dll (these tests run there too):
//   - Wine sends no ENUMERATE; the documented ones are checked natively.
//   - Wine ignores CLOSE_FILE_INFO's result, -1 included.
//   - Wine leaves _A_EXEC in CLOSE_FILE_INFO's attribs.
//   - When the copy stops while a file is open (abort at NEXT_CABINET, a
//     failed continuation), Wine sends CLOSE_FILE_INFO for the partial file
//     instead of closing its handle with PFNCLOSE, and calls close(0).
//   - Wine never closes the cabinet after an abort at the first CABINET_INFO.
//   - Wine aborts on any non-zero NEXT_CABINET or continuation CABINET_INFO
//     result, and reports 2 for every header problem of a continuation.
#include <gtest/gtest.h>

#include "tests/fdi/FdiTestClient.h"
#include "tests/testlib/CabBuilder.h"

using namespace FdiTest;
using namespace TestLib;

namespace {

const char *const DIR = "cabs\\";

std::vector<FDINOTIFICATIONTYPE> WithoutEnumerate(const std::vector<FDINOTIFICATIONTYPE> &types)
{
    std::vector<FDINOTIFICATIONTYPE> result;
    for (FDINOTIFICATIONTYPE type : types) {
        if (type != fdintENUMERATE) {
            result.push_back(type);
        }
    }
    return result;
}

const Note *FindNote(const CFdiTestClient &client, FDINOTIFICATIONTYPE type, size_t occurrence = 0)
{
    for (const Note &note : client.Notes()) {
        if (note.Type == type && occurrence-- == 0) {
            return &note;
        }
    }
    return nullptr;
}

int CountNotes(const CFdiTestClient &client, FDINOTIFICATIONTYPE type)
{
    int count = 0;
    for (const Note &note : client.Notes()) {
        count += note.Type == type;
    }
    return count;
}

// a.txt, dir\sub\b.txt (run after extraction), empty.txt in one stored folder.
CabImage PlainCabinet()
{
    CabOptions options;
    options.SetId = 0x4242;
    options.CabinetIndex = 3;
    CCabBuilder builder(options);
    builder.AddFile("a.txt", Bytes("Hello, cabinet!\n"), 0x20, 0x5264, 0x28c4)
        .AddFile("dir\\sub\\b.txt", Bytes("second file\n"), 0x61, 0x5265, 0x28c5)
        .AddFile("empty.txt", {}, 0x120, 0x5266, 0x28c6);
    return builder.Build();
}

// s1.cab: a.txt and big.bin, which goes on into s2.cab; s2.cab: b.txt in a
// folder of its own.
std::vector<CabImage> SpanningSet(std::vector<uint8_t> *big = nullptr)
{
    CabOptions options;
    options.SetId = 0xBEEF;
    options.CabinetIndex = 1;
    CCabBuilder builder(options);
    std::vector<uint8_t> data = RandomBytes(60000, 9);
    if (big) {
        *big = data;
    }
    builder.AddFile("a.txt", Bytes("first\n")).AddFile("big.bin", data);
    builder.AddFolder().AddFile("b.txt", Bytes("second\n"));
    return builder.BuildSet({"s1.cab", "s2.cab"}, 40000);
}

void AddSpanningSet(CFdiTestClient &client, const std::string &dir = DIR)
{
    std::vector<CabImage> set = SpanningSet();
    client.AddFile(dir + "s1.cab", set[0].Bytes);
    client.AddFile(dir + "s2.cab", set[1].Bytes);
}

} // namespace

TEST(FdiNotify, SingleCabinetSendsEveryNotificationWithItsFields)
{
    CFdiTestClient client;
    client.AddFile("cabs\\plain.cab", PlainCabinet().Bytes);
    ASSERT_TRUE(client.Copy("plain.cab", DIR));
    std::vector<FDINOTIFICATIONTYPE> expected = {fdintCABINET_INFO,   fdintCOPY_FILE,       fdintCLOSE_FILE_INFO,
                                                 fdintCOPY_FILE,      fdintCLOSE_FILE_INFO, fdintCOPY_FILE,
                                                 fdintCLOSE_FILE_INFO};
    EXPECT_EQ(WithoutEnumerate(client.NoteTypes()), expected);
    if (!FDI_UNDER_TEST_IS_WINE) {
        // The documented ENUMERATE at the start and the end of the scan.
        std::vector<FDINOTIFICATIONTYPE> types = client.NoteTypes();
        ASSERT_EQ(types.size(), expected.size() + 2);
        EXPECT_EQ(types[1], fdintENUMERATE);
        EXPECT_EQ(types.back(), fdintENUMERATE);
        EXPECT_EQ(client.Notes()[1].IFolder, 3); // entries left
        EXPECT_EQ(client.Notes().back().IFolder, 0);
    }
    const Note &info = client.Notes()[0];
    EXPECT_EQ(info.Psz1, "");
    EXPECT_EQ(info.Psz2, "");
    EXPECT_EQ(info.Psz3, DIR);
    EXPECT_EQ(info.SetId, 0x4242);
    EXPECT_EQ(info.ICabinet, 3);

    const Note *copyB = FindNote(client, fdintCOPY_FILE, 1);
    ASSERT_NE(copyB, nullptr);
    EXPECT_EQ(copyB->Psz1, "dir\\sub\\b.txt");
    EXPECT_EQ(copyB->Cb, 12);
    EXPECT_EQ(copyB->Date, 0x5265);
    EXPECT_EQ(copyB->Time, 0x28c5);
    EXPECT_EQ(copyB->Attribs, 0x61); // all bits as stored
    const Note *closeB = FindNote(client, fdintCLOSE_FILE_INFO, 1);
    ASSERT_NE(closeB, nullptr);
    EXPECT_EQ(closeB->Psz1, "dir\\sub\\b.txt");
    EXPECT_EQ(closeB->Hf, 0x70002);
    EXPECT_EQ(closeB->Date, 0x5265);
    EXPECT_EQ(closeB->Time, 0x28c5);
    EXPECT_EQ(closeB->Cb, 1); // _A_EXEC was set
    EXPECT_EQ(closeB->Attribs, FDI_UNDER_TEST_IS_WINE ? 0x61 : 0x21);
    const Note *closeEmpty = FindNote(client, fdintCLOSE_FILE_INFO, 2);
    ASSERT_NE(closeEmpty, nullptr);
    EXPECT_EQ(closeEmpty->Attribs, 0x120);
    EXPECT_EQ(closeEmpty->Cb, 0);
    for (const Note &note : client.Notes()) {
        EXPECT_TRUE(note.PvMatched);
    }
    EXPECT_EQ(client.FindOutput("a.txt")->Data, Bytes("Hello, cabinet!\n"));
    EXPECT_EQ(client.FindOutput("empty.txt")->Writes, 0u);
}

TEST(FdiNotify, CabinetIsOpenedAndReadAsCabinetDllDoes)
{
    CFdiTestClient client;
    client.AddFile("cabs\\plain.cab", PlainCabinet().Bytes);
    ASSERT_TRUE(client.Copy("plain.cab", DIR));
    const std::vector<IoCall> &io = client.IoLog();
    ASSERT_FALSE(io.empty());
    EXPECT_EQ(io[0].Kind, 'o');
    EXPECT_EQ(io[0].Path, "cabs\\plain.cab");
    EXPECT_EQ(io[0].A, 0x8000);
    EXPECT_EQ(io[0].B, 0x0180);
    ASSERT_GT(io.size(), 1u);
    EXPECT_EQ(io[1].Kind, 'r'); // the header, from position 0
    EXPECT_EQ(io[1].Position, 0);
    EXPECT_GE(io[1].A, 36);
    for (const IoCall &call : io) {
        if (call.Kind == 's') {
            EXPECT_TRUE(call.B == SEEK_SET || call.B == SEEK_CUR) << "origin " << call.B;
        }
        if (call.Kind == 'w') {
            EXPECT_LE(call.A, 32768);
        }
    }
    EXPECT_EQ(io.back().Kind, 'c');
    EXPECT_EQ(client.OpenCabinetHandles(), 0);
}

TEST(FdiNotify, AnswersOtherThanMinusOneGoOn)
{
    // CABINET_INFO 37 and CLOSE_FILE_INFO 0 continue; any COPY_FILE value
    // but 0 and -1 is a handle, negative ones included (an extractor's
    // in-memory pseudo handles from 0xFF000000 up are negative as 32 bits).
    const intptr_t pseudo = intptr_t(int32_t(0xFF000000u));
    CFdiTestClient client;
    client.AddFile("cabs\\plain.cab", PlainCabinet().Bytes);
    client.FirstOutputHandle = pseudo;
    client.OnNote = [](FDINOTIFICATIONTYPE type, FDINOTIFICATION *, intptr_t answer) -> intptr_t {
        if (type == fdintCABINET_INFO) {
            return 37;
        }
        return type == fdintCLOSE_FILE_INFO ? 0 : answer;
    };
    ASSERT_TRUE(client.Copy("plain.cab", DIR));
    EXPECT_EQ(CountNotes(client, fdintCLOSE_FILE_INFO), 3);
    EXPECT_EQ(FindNote(client, fdintCLOSE_FILE_INFO)->Hf, pseudo);
    EXPECT_EQ(client.FindOutput("a.txt")->Data, Bytes("Hello, cabinet!\n"));
}

// The client may shorten the scan at its first ENUMERATE: iFolder is the
// number of entries it still wants, 0 ending the scan without an error.
// Wine sends no ENUMERATE, so it copies all three.
TEST(FdiNotify, EnumerateLimitsTheEntriesLeft)
{
    for (int wanted : {0, 1}) {
        SCOPED_TRACE(wanted);
        CFdiTestClient client;
        client.AddFile("cabs\\plain.cab", PlainCabinet().Bytes);
        bool first = true;
        client.OnNote = [&](FDINOTIFICATIONTYPE type, FDINOTIFICATION *note, intptr_t answer) -> intptr_t {
            if (type == fdintENUMERATE && first) {
                first = false;
                note->iFolder = uint16_t(wanted);
            }
            return answer;
        };
        ASSERT_TRUE(client.Copy("plain.cab", DIR));
        EXPECT_EQ(CountNotes(client, fdintCOPY_FILE), FDI_UNDER_TEST_IS_WINE ? 3 : wanted);
    }
}

TEST(FdiNotify, SkippedFilesAreDecodedOnlyWhenALaterOneNeedsIt)
{
    CCabBuilder builder;
    std::vector<uint8_t> one = PatternBytes(70000, 1), two = RandomBytes(40000, 2), three = Bytes("last\n");
    builder.AddFolder(CAB_COMPRESS_MSZIP).AddFile("one", one).AddFile("two", two).AddFile("three", three);
    CFdiTestClient client;
    client.AddFile("cabs\\z.cab", builder.Build().Bytes);
    client.Want = [](const std::string &name) { return name == "three"; };
    ASSERT_TRUE(client.Copy("z.cab", DIR));
    ASSERT_EQ(client.Outputs().size(), 1u);
    EXPECT_EQ(client.Outputs()[0].Data, three);

    // Skipping everything reads no data block at all (beyond read-ahead).
    CCabBuilder large;
    large.AddFile("x", RandomBytes(1500000, 5)).AddFile("y", RandomBytes(1500000, 6));
    CFdiTestClient none;
    std::vector<uint8_t> bytes = large.Build().Bytes;
    none.AddFile("cabs\\z.cab", bytes);
    none.Want = [](const std::string &) { return false; };
    ASSERT_TRUE(none.Copy("z.cab", DIR));
    EXPECT_EQ(CountNotes(none, fdintCOPY_FILE), 2);
    int64_t bytesRead = 0;
    for (const IoCall &call : none.IoLog()) {
        bytesRead += call.Kind == 'r' ? call.Result : 0;
    }
    EXPECT_LT(bytesRead, int64_t(bytes.size() / 4));
}

TEST(FdiNotify, EntriesOutOfFolderOrderRestartTheFolder)
{
    // The table lists b (second in its folder) first, and interleaves two
    // MSZIP folders; every file must still come out right.
    CCabBuilder builder;
    std::vector<uint8_t> a = PatternBytes(50000, 1), b = PatternBytes(40000, 2), c = RandomBytes(30000, 3);
    builder.AddFolder(CAB_COMPRESS_MSZIP).AddFile("a", a).AddFile("b", b);
    builder.AddFolder(CAB_COMPRESS_MSZIP).AddFile("c", c);
    builder.SetTableOrder({1, 2, 0});
    CFdiTestClient client;
    client.AddFile("cabs\\o.cab", builder.Build().Bytes);
    ASSERT_TRUE(client.Copy("o.cab", DIR));
    EXPECT_EQ(client.FindOutput("a")->Data, a);
    EXPECT_EQ(client.FindOutput("b")->Data, b);
    EXPECT_EQ(client.FindOutput("c")->Data, c);
    EXPECT_EQ(client.Outputs()[0].Name, "b");
}

TEST(FdiNotify, EmptyCabinetGivesOnlyCabinetInfo)
{
    CFdiTestClient client;
    client.AddFile("cabs\\e.cab", CCabBuilder().Build().Bytes);
    ASSERT_TRUE(client.Copy("e.cab", DIR));
    EXPECT_EQ(WithoutEnumerate(client.NoteTypes()), std::vector<FDINOTIFICATIONTYPE>{fdintCABINET_INFO});
}

TEST(FdiNotify, AbortAtEveryNotificationStopsCleanly)
{
    // Every notification of a run over a set (spanning file included) in
    // turn answers -1: FDICopy fails with USER_ABORT, frees everything,
    // closes every cabinet, and an output file that was open is closed by
    // FDI unless the abort came from its own CLOSE_FILE_INFO.
    CFdiTestClient reference;
    AddSpanningSet(reference);
    ASSERT_TRUE(reference.Copy("s1.cab", DIR));
    size_t total = reference.Notes().size();
    ASSERT_GE(total, 7u);
    for (size_t n = 1; n <= total; ++n) {
        FDINOTIFICATIONTYPE type = reference.Notes()[n - 1].Type;
        SCOPED_TRACE("abort at notification " + std::to_string(n) + " (type " + std::to_string(type) + ")");
        if (FDI_UNDER_TEST_IS_WINE && type == fdintCLOSE_FILE_INFO) {
            continue; // Wine ignores CLOSE_FILE_INFO's result
        }
        CFdiTestClient client;
        AddSpanningSet(client);
        client.AbortAtNote = int(n);
        EXPECT_FALSE(client.Copy("s1.cab", DIR));
        EXPECT_EQ(client.Erf().erfOper, FDIERROR_USER_ABORT);
        EXPECT_TRUE(client.Erf().fError);
        // Nothing after the abort (Wine sends CLOSE_FILE_INFO for a file left
        // open by an abort in the NEXT_CABINET dialogue).
        bool wineClose = FDI_UNDER_TEST_IS_WINE && client.Notes().size() == n + 1 &&
                         client.Notes().back().Type == fdintCLOSE_FILE_INFO;
        EXPECT_TRUE(client.Notes().size() == n || wineClose) << client.Notes().size();
        EXPECT_TRUE(client.Destroy());
        EXPECT_EQ(client.LiveAllocations(), 0);
        if (FDI_UNDER_TEST_IS_WINE) {
            continue; // Wine leaks the cabinet handle on some aborts; see above
        }
        EXPECT_EQ(client.OpenCabinetHandles(), 0);
        EXPECT_EQ(client.StrayCloses(), 0);
        for (const Output &output : client.Outputs()) {
            bool abortedAtItsClose = type == fdintCLOSE_FILE_INFO && &output == &client.Outputs().back();
            if (abortedAtItsClose) {
                EXPECT_FALSE(output.ClosedByFdi) << output.Name;
            } else if (type != fdintCOPY_FILE || &output != &client.Outputs().back()) {
                EXPECT_TRUE(output.CloseInfo || output.ClosedByFdi) << output.Name;
            }
        }
    }
}

TEST(FdiNotify, MissingNextCabinetIsAskedForUntilTheClientGivesUp)
{
    CFdiTestClient client;
    std::vector<CabImage> set = SpanningSet();
    client.AddFile("cabs\\s1.cab", set[0].Bytes); // s2.cab is not there
    int asked = 0;
    client.OnNote = [&](FDINOTIFICATIONTYPE type, FDINOTIFICATION *note, intptr_t answer) -> intptr_t {
        if (type == fdintNEXT_CABINET) {
            EXPECT_EQ(note->fdie, asked == 0 ? FDIERROR_NONE : FDIERROR_CABINET_NOT_FOUND);
            return ++asked == 4 ? -1 : 0;
        }
        return answer;
    };
    EXPECT_FALSE(client.Copy("s1.cab", DIR));
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(client.Erf().erfOper, FDIERROR_USER_ABORT);
    const Output *big = client.FindOutput("big.bin");
    ASSERT_NE(big, nullptr);
    if (!FDI_UNDER_TEST_IS_WINE) {
        EXPECT_TRUE(big->ClosedByFdi);
        EXPECT_FALSE(big->CloseInfo);
        EXPECT_EQ(client.OpenCabinetHandles(), 0);
    }
}

TEST(FdiNotify, ClientCanPointNextCabinetElsewhere)
{
    // After fdie = 1 the client writes another directory into psz3; FDI
    // adds the separator, opens there, and still reports its own directory.
    CFdiTestClient client;
    std::vector<CabImage> set = SpanningSet();
    client.AddFile("cabs\\s1.cab", set[0].Bytes);
    client.AddFile("other\\s2.cab", set[1].Bytes);
    client.OnNote = [](FDINOTIFICATIONTYPE type, FDINOTIFICATION *note, intptr_t answer) -> intptr_t {
        if (type == fdintNEXT_CABINET && note->fdie == FDIERROR_CABINET_NOT_FOUND) {
            std::snprintf(note->psz3, 256, "%s", "other");
        }
        return answer;
    };
    ASSERT_TRUE(client.Copy("s1.cab", DIR));
    EXPECT_EQ(CountNotes(client, fdintNEXT_CABINET), 2);
    EXPECT_EQ(FindNote(client, fdintCABINET_INFO, 1)->Psz3, DIR);
    EXPECT_TRUE(client.FindOutput("big.bin")->CloseInfo);
    bool openedElsewhere = false;
    for (const IoCall &call : client.IoLog()) {
        openedElsewhere |= call.Kind == 'o' && call.Path == "other\\s2.cab" && call.Handle != -1;
    }
    EXPECT_TRUE(openedElsewhere);
}

TEST(FdiNotify, WrongNextCabinetIsReportedInFdie)
{
    struct Case {
        const char *What;
        std::function<void(std::vector<uint8_t> &)> Spoil;
        int Fdie;
    } cases[] = {
        {"other set", [](std::vector<uint8_t> &b) { PutLe16(b, CAB_OFF_SET_ID, 0x1111); }, FDIERROR_WRONG_CABINET},
        {"other index", [](std::vector<uint8_t> &b) { PutLe16(b, CAB_OFF_I_CABINET, 7); }, FDIERROR_WRONG_CABINET},
        {"not a cabinet", [](std::vector<uint8_t> &b) { b[0] = 'X'; }, FDIERROR_NOT_A_CABINET},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.What);
        std::vector<CabImage> set = SpanningSet();
        c.Spoil(set[1].Bytes);
        CFdiTestClient client;
        client.AddFile("cabs\\s1.cab", set[0].Bytes);
        client.AddFile("cabs\\s2.cab", set[1].Bytes);
        std::vector<int> fdies;
        client.OnNote = [&](FDINOTIFICATIONTYPE type, FDINOTIFICATION *note, intptr_t answer) -> intptr_t {
            if (type == fdintNEXT_CABINET) {
                fdies.push_back(int(note->fdie));
                return fdies.size() == 3 ? -1 : 0;
            }
            return answer;
        };
        EXPECT_FALSE(client.Copy("s1.cab", DIR));
        EXPECT_EQ(fdies,
                  (std::vector<int>{FDIERROR_NONE,
                                    FDI_UNDER_TEST_IS_WINE && c.Fdie == FDIERROR_NOT_A_CABINET ? FDIERROR_NOT_A_CABINET
                                                                                               : c.Fdie,
                                    c.Fdie}));
        if (!FDI_UNDER_TEST_IS_WINE) {
            EXPECT_EQ(client.OpenCabinetHandles(), 0); // Wine leaks the rejected one
        }
    }
}

TEST(FdiNotify, SkippedSpanningFileNeedsNoNextCabinet)
{
    CFdiTestClient client;
    std::vector<CabImage> set = SpanningSet();
    client.AddFile("cabs\\s1.cab", set[0].Bytes);
    client.Want = [](const std::string &name) { return name != "big.bin"; };
    ASSERT_TRUE(client.Copy("s1.cab", DIR));
    EXPECT_EQ(CountNotes(client, fdintNEXT_CABINET), 0);
    int opens = 0;
    for (const IoCall &call : client.IoLog()) {
        opens += call.Kind == 'o';
    }
    EXPECT_EQ(opens, 1);
}
