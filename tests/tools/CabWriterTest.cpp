// The cabinet writer: layout, folder splitting, MSZIP with history across
// blocks, checksums as other writers compute them, and every refusal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "tests/tools/CabInspect.h"
#include "tests/tools/ToolTest.h"
#include "tools/cabwriter/CabChecksum.h"
#include "tools/cabwriter/CabWriter.h"

using namespace Selfex;

namespace {

// Bytes that deflate cannot shrink.
std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (uint8_t &byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

// Members held in memory; Source names the entry in Data.
class CMemorySource : public IMemberSource {
public:
    std::map<std::string, std::vector<uint8_t>> Data;
    int64_t Surplus = 0; // bytes delivered beyond (or, negative, short of) each member's data
    bool FailReads = false;

    bool Open(const CabMember &member, std::string &error) override
    {
        auto at = Data.find(member.Source);
        if (at == Data.end()) {
            error = member.Source + ": missing";
            return false;
        }
        m_Bytes = at->second;
        if (Surplus > 0) {
            m_Bytes.resize(m_Bytes.size() + static_cast<size_t>(Surplus), 'x');
        } else {
            m_Bytes.resize(m_Bytes.size() - static_cast<size_t>(-Surplus));
        }
        m_Position = 0;
        return true;
    }
    int64_t Read(uint8_t *buffer, uint32_t size, std::string &error) override
    {
        if (FailReads) {
            error = "read failed";
            return -1;
        }
        size_t count = std::min<size_t>(size, m_Bytes.size() - m_Position);
        std::copy(m_Bytes.data() + m_Position, m_Bytes.data() + m_Position + count, buffer);
        m_Position += count;
        return static_cast<int64_t>(count);
    }
    void Close() override {}

private:
    std::vector<uint8_t> m_Bytes;
    size_t m_Position = 0;
};

class CMemorySink : public ICabSink {
public:
    std::vector<uint8_t> Bytes;
    size_t FailAfter = SIZE_MAX;

    bool Append(const uint8_t *data, size_t size, std::string &error) override
    {
        if (Bytes.size() + size > FailAfter) {
            error = "disk full";
            return false;
        }
        Bytes.insert(Bytes.end(), data, data + size);
        return true;
    }
    bool Overwrite(uint32_t offset, const uint8_t *data, size_t size, std::string &error) override
    {
        std::copy(data, data + size, Bytes.data() + offset);
        return true;
    }
};

struct Written {
    bool Ok;
    std::string Error;
    CabSummary Summary;
    std::vector<uint8_t> Cabinet;
};

Written Write(const std::vector<CabMember> &members, CMemorySource &source, const CabOptions &options,
              CMemorySink sink = CMemorySink())
{
    Written result;
    result.Ok = WriteCabinet(members, options, source, sink, result.Summary, result.Error);
    result.Cabinet = sink.Bytes;
    return result;
}

struct LayoutCase {
    const char *Title;
    std::vector<size_t> Sizes;
    uint32_t FolderLimit;
    std::vector<std::vector<size_t>> Folders; // member indexes per folder
};

const LayoutCase LAYOUT_CASES[] = {
    {"no files", {}, CAB_MAX_FOLDER_BYTES, {}},
    {"one empty file", {0}, CAB_MAX_FOLDER_BYTES, {{0}}},
    {"block edges", {0, 1, 32767, 32768, 32769, 100000}, CAB_MAX_FOLDER_BYTES, {{0, 1, 2, 3, 4, 5}}},
    {"folder limit", {60000, 60000, 5000, 200000, 0}, 70000, {{0}, {1, 2}, {3, 4}}},
    {"limit met exactly", {35000, 35000, 1}, 70000, {{0, 1}, {2}}},
};

} // namespace

TEST(CabWriter, LaysOutFilesFoldersAndBlocksThatReadBackExactly)
{
    for (Compression method : {Compression::None, Compression::Mszip}) {
        for (const LayoutCase &layout : LAYOUT_CASES) {
            SCOPED_TRACE(std::string(layout.Title) + (method == Compression::Mszip ? ", MSZIP" : ", stored"));
            CMemorySource source;
            std::vector<CabMember> members;
            for (size_t i = 0; i < layout.Sizes.size(); ++i) {
                CabMember member;
                member.Name = "dir\\file" + std::to_string(i) + ".bin";
                member.Source = member.Name;
                member.Size = static_cast<uint32_t>(layout.Sizes[i]);
                source.Data[member.Source] = i % 2 ? NoiseBytes(layout.Sizes[i], 7u + static_cast<uint32_t>(i))
                                                   : SampleBytes(layout.Sizes[i], 3u + static_cast<uint32_t>(i));
                members.push_back(member);
            }
            CabOptions options;
            options.Method = method;
            options.FolderLimit = layout.FolderLimit;
            Written written = Write(members, source, options);
            ASSERT_TRUE(written.Ok) << written.Error;

            InspectedCabinet cab;
            std::string error;
            ASSERT_TRUE(InspectCabinet(written.Cabinet, cab, error)) << error;
            EXPECT_EQ(cab.CabinetSize, written.Cabinet.size());
            EXPECT_EQ(written.Summary.CabinetBytes, written.Cabinet.size());
            EXPECT_EQ(cab.VersionMajor, 1);
            EXPECT_EQ(cab.VersionMinor, 3);
            EXPECT_EQ(cab.Flags, 0);
            ASSERT_EQ(cab.Files.size(), members.size());
            ASSERT_EQ(cab.Folders.size(), layout.Folders.size());

            // Folder data follows the tables and each folder follows the last.
            uint32_t expectedStart = cab.FilesOffset;
            for (const InspectedFile &file : cab.Files) {
                expectedStart += 16 + static_cast<uint32_t>(file.Name.size()) + 1;
            }
            for (size_t f = 0; f < cab.Folders.size(); ++f) {
                const InspectedFolder &folder = cab.Folders[f];
                EXPECT_EQ(folder.Compression, method == Compression::Mszip ? 1 : 0);
                EXPECT_EQ(folder.DataOffset, expectedStart);
                for (const InspectedBlock &block : folder.Blocks) {
                    expectedStart += 8 + block.CompressedSize;
                }
                for (size_t b = 0; b + 1 < folder.Blocks.size(); ++b) {
                    EXPECT_EQ(folder.Blocks[b].UncompressedSize, 32768u) << "folder " << f << " block " << b;
                }
                for (size_t member : layout.Folders[f]) {
                    EXPECT_EQ(cab.Files[member].Folder, f) << "member " << member;
                }
            }
            EXPECT_EQ(expectedStart, written.Cabinet.size());

            for (size_t i = 0; i < members.size(); ++i) {
                EXPECT_EQ(cab.Files[i].Name, members[i].Name);
                EXPECT_EQ(cab.Files[i].Size, members[i].Size);
                EXPECT_TRUE(cab.FileData(i) == source.Data[members[i].Source]) << "member " << i;
            }
        }
    }
}

TEST(CabWriter, StoresDateTimeAndOnlyTheFourAttributesPlusTheUtf8Flag)
{
    struct Case {
        const char *Name;
        uint16_t Attribs;
        uint16_t Stored;
    } cases[] = {
        {"plain.txt", 0x0000, 0x0000},
        {"all.txt", 0xFFFF, 0x0027},
        {"ro-arch.txt", 0x0021, 0x0021},
        {"caf\xC3\xA9.txt", 0x0002, 0x0082},
        {"\xE6\x97\xA5\xE6\x9C\xAC\\x", 0x0040, 0x0080},
    };
    CMemorySource source;
    std::vector<CabMember> members;
    for (const Case &c : cases) {
        CabMember member;
        member.Name = c.Name;
        member.Source = c.Name;
        member.Size = 3;
        member.Attribs = c.Attribs;
        member.Date = 0x5A21;
        member.Time = 0x6B3F;
        source.Data[c.Name] = {'a', 'b', 'c'};
        members.push_back(member);
    }
    Written written = Write(members, source, CabOptions());
    ASSERT_TRUE(written.Ok) << written.Error;
    InspectedCabinet cab;
    std::string error;
    ASSERT_TRUE(InspectCabinet(written.Cabinet, cab, error)) << error;
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cab.Files[i].Attribs, cases[i].Stored) << cases[i].Name;
        EXPECT_EQ(cab.Files[i].Date, 0x5A21);
        EXPECT_EQ(cab.Files[i].Time, 0x6B3F);
    }
}

// The second half of a 20000-byte noise pattern repeated over 64 KiB must
// come out tiny, since its block may refer back into the first block: the
// deflate history runs on from block to block within a folder, and only
// there. (zlib reaches back at most 32506 bytes, so the pattern is shorter.)
TEST(CabWriter, MszipCarriesHistoryAcrossBlocksButNotAcrossFolders)
{
    std::vector<uint8_t> pattern = NoiseBytes(20000, 11);
    std::vector<uint8_t> whole(65536);
    for (size_t i = 0; i < whole.size(); ++i) {
        whole[i] = pattern[i % pattern.size()];
    }
    CMemorySource source;
    source.Data["a"].assign(whole.begin(), whole.begin() + 32768);
    source.Data["b"].assign(whole.begin() + 32768, whole.end());
    std::vector<CabMember> members(2);
    members[0].Name = members[0].Source = "a";
    members[1].Name = members[1].Source = "b";
    members[0].Size = members[1].Size = 32768;

    Written together = Write(members, source, CabOptions());
    CabOptions twoFolders;
    twoFolders.FolderLimit = 32768;
    Written apart = Write(members, source, twoFolders);
    ASSERT_TRUE(together.Ok && apart.Ok);

    InspectedCabinet cab1;
    InspectedCabinet cab2;
    std::string error;
    ASSERT_TRUE(InspectCabinet(together.Cabinet, cab1, error)) << error;
    ASSERT_TRUE(InspectCabinet(apart.Cabinet, cab2, error)) << error;
    ASSERT_EQ(cab1.Folders.size(), 1u);
    ASSERT_EQ(cab1.Folders[0].Blocks.size(), 2u);
    EXPECT_LT(cab1.Folders[0].Blocks[1].CompressedSize, 1000);
    ASSERT_EQ(cab2.Folders.size(), 2u);
    EXPECT_GT(cab2.Folders[1].Blocks[0].CompressedSize, 15000);
    EXPECT_TRUE(cab1.FileData(1) == source.Data["b"]);
    EXPECT_TRUE(cab2.FileData(1) == source.Data["b"]);
}

// Noise does not shrink, but a block must stay within what readers accept.
TEST(CabWriter, MszipKeepsIncompressibleBlocksWithinTheReadersLimit)
{
    CMemorySource source;
    source.Data["n"] = NoiseBytes(3 * 32768, 13);
    CabMember member;
    member.Name = member.Source = "n";
    member.Size = 3 * 32768;
    Written written = Write({member}, source, CabOptions());
    ASSERT_TRUE(written.Ok) << written.Error;
    InspectedCabinet cab;
    std::string error;
    ASSERT_TRUE(InspectCabinet(written.Cabinet, cab, error)) << error;
    for (const InspectedBlock &block : cab.Folders[0].Blocks) {
        EXPECT_LE(block.CompressedSize, CAB_MAX_PAYLOAD);
    }
    EXPECT_TRUE(cab.FileData(0) == source.Data["n"]);
}

// Blocks that do not shrink make the encoder store the following ones, and
// compressible data brings compression back within eight blocks; the
// history survives every switch (the inspector inflates with it).
TEST(CabWriter, MszipStoresWhatDoesNotShrinkAndCompressesAgainAfterwards)
{
    std::vector<uint8_t> data = NoiseBytes(20 * 32768, 17);
    std::vector<uint8_t> text = SampleBytes(20 * 32768, 19);
    data.insert(data.end(), text.begin(), text.end());
    // A late block that repeats an early stretch of noise.
    std::copy(data.begin() + 5 * 32768, data.begin() + 5 * 32768 + 16000, data.end() - 16000);
    CMemorySource source;
    source.Data["mixed"] = data;
    CabMember member;
    member.Name = member.Source = "mixed";
    member.Size = static_cast<uint32_t>(data.size());
    Written written = Write({member}, source, CabOptions());
    ASSERT_TRUE(written.Ok) << written.Error;
    InspectedCabinet cab;
    std::string error;
    ASSERT_TRUE(InspectCabinet(written.Cabinet, cab, error)) << error;
    EXPECT_TRUE(cab.FileData(0) == data);

    const std::vector<InspectedBlock> &blocks = cab.Folders[0].Blocks;
    ASSERT_EQ(blocks.size(), 40u);
    auto isStored = [](const InspectedBlock &block) { return (block.Payload[2] & 0x06) == 0; }; // BTYPE 00
    size_t storedNoise = 0;
    for (size_t b = 0; b < 20; ++b) {
        storedNoise += isStored(blocks[b]) ? 1u : 0u;
    }
    EXPECT_GE(storedNoise, 15u) << "most noise blocks go out stored";
    for (size_t b = 28; b < 39; ++b) {
        EXPECT_LT(blocks[b].CompressedSize, 28000) << "text block " << b << " is compressed again";
    }
}

// Checksums stored by gcab, makecab and PyCab, recomputed over their blocks.
TEST(CabChecksum, MatchesTheChecksumsOtherWritersStored)
{
    const char *corpus = std::getenv("SELFEX_CORPUS");
    ASSERT_NE(corpus, nullptr);
    for (const char *name : {"gcab-test-none.cab", "gcab-test-mszip.cab", "putty-0.68.cab", "pycab-multi-folder.cab"}) {
        SCOPED_TRACE(name);
        std::ifstream file(std::string(corpus) + "/" + name, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        InspectedCabinet cab;
        std::string error;
        ASSERT_TRUE(InspectCabinet(bytes, cab, error)) << error;
        size_t checked = 0;
        for (const InspectedFolder &folder : cab.Folders) {
            for (const InspectedBlock &block : folder.Blocks) {
                EXPECT_EQ(CabDataChecksum(block.Payload.data(), block.CompressedSize, block.UncompressedSize),
                          block.Checksum);
                ++checked;
            }
        }
        EXPECT_GT(checked, 0u);
    }
}

TEST(CabWriter, RefusesMembersBeyondTheFormatsLimits)
{
    struct Case {
        const char *Title;
        std::vector<CabMember> Members;
        uint32_t FolderLimit;
        const char *Message;
    };
    auto named = [](std::string name, uint32_t size = 0) {
        CabMember member;
        member.Name = std::move(name);
        member.Size = size;
        return member;
    };
    std::vector<Case> cases = {
        {"65536 files", std::vector<CabMember>(65536, named("f")), CAB_MAX_FOLDER_BYTES, "at most 65535"},
        {"empty name", {named("")}, CAB_MAX_FOLDER_BYTES, "1 to 255 bytes"},
        {"256-byte name", {named(std::string(256, 'n'))}, CAB_MAX_FOLDER_BYTES, "this one has 256"},
        {"zero byte", {named(std::string("a\0b", 3))}, CAB_MAX_FOLDER_BYTES, "zero byte"},
        {"file over a folder",
         {named("big", CAB_MAX_FOLDER_BYTES + 1)},
         CAB_MAX_FOLDER_BYTES,
         "more than a cabinet folder holds"},
        {"folder limit 0", {named("a")}, 0, "folder size"},
        {"folder limit too big", {named("a")}, CAB_MAX_FOLDER_BYTES + 1, "folder size"},
    };
    std::string unused;
    EXPECT_TRUE(CheckCabMembers(std::vector<CabMember>(65535, named("f")), CabOptions(), unused));
    EXPECT_TRUE(CheckCabMembers({named(std::string(255, 'n'), CAB_MAX_FOLDER_BYTES)}, CabOptions(), unused));
    for (const Case &c : cases) {
        CabOptions options;
        options.FolderLimit = c.FolderLimit;
        std::string error;
        EXPECT_FALSE(CheckCabMembers(c.Members, options, error)) << c.Title;
        EXPECT_NE(error.find(c.Message), std::string::npos) << c.Title << ": " << error;
        CMemorySource source;
        CabSummary summary;
        CMemorySink sink;
        EXPECT_FALSE(WriteCabinet(c.Members, options, source, sink, summary, error)) << c.Title;
        EXPECT_TRUE(sink.Bytes.empty()) << c.Title << ": nothing may be written";
    }
}

TEST(CabWriter, FailsWhenSourceOrSinkMisbehave)
{
    CabMember member;
    member.Name = member.Source = "data.bin";
    member.Size = 50000;
    struct Case {
        const char *Title;
        int64_t Surplus;
        bool FailReads;
        size_t SinkRoom;
        uint32_t MaxCabinet;
        const char *Message;
    } cases[] = {
        {"shorter than stated", -1, false, SIZE_MAX, 0x7FFFFFFF, "became shorter"},
        {"longer than stated", 1, false, SIZE_MAX, 0x7FFFFFFF, "grew"},
        {"read error", 0, true, SIZE_MAX, 0x7FFFFFFF, "read failed"},
        {"sink full", 0, false, 1000, 0x7FFFFFFF, "disk full"},
        {"cabinet too large", 0, false, SIZE_MAX, 40000, "larger than 40000 bytes"},
    };
    for (const Case &c : cases) {
        CMemorySource source;
        source.Data["data.bin"] = NoiseBytes(50000, 5);
        source.Surplus = c.Surplus;
        source.FailReads = c.FailReads;
        CMemorySink sink;
        sink.FailAfter = c.SinkRoom;
        CabOptions options;
        options.MaxCabinetBytes = c.MaxCabinet;
        Written written = Write({member}, source, options, sink);
        EXPECT_FALSE(written.Ok) << c.Title;
        EXPECT_NE(written.Error.find(c.Message), std::string::npos) << c.Title << ": " << written.Error;
    }
}
