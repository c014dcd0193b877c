// The cabinet writer: layout, folder splitting, MSZIP with history across
// blocks, LZX read back by the extractor, checksums as other writers compute
// them, and every refusal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/LzxFolders.h"
#include "tests/tools/CabInspect.h"
#include "tests/tools/ToolTest.h"
#include "tools/PackageReader.h"
#include "tools/cabwriter/CabChecksum.h"
#include "tools/cabwriter/CabWriter.h"
#include "tools/cabwriter/HuffmanCode.h"
#include "tools/cabwriter/LzxBlockWriter.h"

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
    // The same members, their own position: folders may be compressed at once.
    std::unique_ptr<IMemberSource> Fork() override
    {
        auto fork = std::make_unique<CMemorySource>();
        fork->Data = Data;
        fork->Surplus = Surplus;
        fork->FailReads = FailReads;
        return fork;
    }

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

// Several workers write the cabinet one worker writes, byte for byte, and
// fail with the first failing folder's reason.
TEST(CabWriter, FoldersCompressedAtOnceGiveTheSameCabinet)
{
    CMemorySource source;
    std::vector<CabMember> members;
    for (uint32_t i = 0; i < 7; ++i) {
        CabMember member;
        member.Name = member.Source = "f" + std::to_string(i);
        source.Data[member.Source] = i % 2 ? NoiseBytes(40000, i) : std::vector<uint8_t>(50000 + i, uint8_t('a' + i));
        member.Size = static_cast<uint32_t>(source.Data[member.Source].size());
        members.push_back(member);
    }
    for (Compression method : {Compression::Mszip, Compression::Lzx, Compression::None}) {
        CabOptions options;
        options.Method = method;
        options.FolderLimit = 60000;
        const Written one = Write(members, source, options);
        options.Jobs = 3;
        const Written three = Write(members, source, options);
        ASSERT_TRUE(one.Ok && three.Ok) << one.Error << three.Error;
        EXPECT_EQ(one.Summary.Folders, 7u);
        EXPECT_EQ(three.Cabinet, one.Cabinet) << static_cast<int>(method);
        EXPECT_EQ(three.Summary.Blocks, one.Summary.Blocks);
        EXPECT_EQ(three.Summary.UncompressedBytes, one.Summary.UncompressedBytes);
    }
    CabOptions options;
    options.FolderLimit = 60000;
    source.Data.erase("f2");
    source.Data.erase("f5");
    const Written one = Write(members, source, options);
    options.Jobs = 4;
    const Written four = Write(members, source, options);
    EXPECT_FALSE(one.Ok || four.Ok);
    EXPECT_EQ(four.Error, one.Error);
    EXPECT_EQ(one.Error, "f2: missing");
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

// LZX cabinets are read back through the extractor: natively our decoder,
// on Windows (and under Wine) the system's Cabinet.dll.
namespace {

// The extraction's progress is not what these tests look at.
class CQuietObserver : public IExtractObserver {
public:
    bool OnFileStart(const StoredFile &, const std::string &) override { return true; }
    void OnBytes(uint32_t) override {}
    void OnFileDone(uint32_t, uint32_t) override {}
};

// The CFDATA blocks of every folder of a cabinet the writer made: the
// compression word, and per block its payload and uncompressed size.
struct LzxFolderBlocks {
    uint16_t Compression;
    std::vector<std::pair<std::vector<uint8_t>, uint16_t>> Blocks;
};

std::vector<LzxFolderBlocks> FolderBlocks(const std::vector<uint8_t> &cab)
{
    auto le16 = [&](size_t at) { return static_cast<uint16_t>(cab.at(at) | cab.at(at + 1) << 8); };
    auto le32 = [&](size_t at) { return le16(at) | static_cast<uint32_t>(le16(at + 2)) << 16; };
    std::vector<LzxFolderBlocks> folders(le16(26));
    for (size_t f = 0; f < folders.size(); ++f) {
        size_t at = le32(36 + 8 * f);
        folders[f].Compression = le16(36 + 8 * f + 6);
        for (uint16_t b = le16(36 + 8 * f + 4); b > 0; --b) {
            const uint16_t size = le16(at + 4);
            folders[f].Blocks.push_back(
                {{cab.begin() + static_cast<long>(at) + 8, cab.begin() + static_cast<long>(at) + 8 + size},
                 le16(at + 6)});
            at += 8 + size;
        }
    }
    return folders;
}

// The type of the LZX block that opens a frame: bits are read from the
// highest of 16-bit little-endian words; a folder's first frame starts with
// the call filter's flag and, when set, its 32-bit size.
unsigned BlockTypeAt(const std::vector<uint8_t> &payload, bool folderStart)
{
    size_t bit = 0;
    auto take = [&](unsigned count) {
        uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i, ++bit) {
            const size_t word = bit / 16 * 2;
            const uint16_t bits = static_cast<uint16_t>(payload.at(word) | payload.at(word + 1) << 8);
            value = value << 1 | ((bits >> (15 - bit % 16)) & 1u);
        }
        return value;
    };
    if (folderStart && take(1)) {
        take(32);
    }
    return take(3);
}

// Records of 16 bytes: a counter, then 12 bytes copied from a record up to
// 64 back. Every match starts at a record's field, at a multiple of 16
// back, so the low bits of the offsets repeat and aligned blocks win.
std::vector<uint8_t> AlignedRecords(size_t records, uint32_t seed)
{
    std::vector<uint8_t> bytes = NoiseBytes(16 * 64, seed);
    for (uint32_t r = 64; r < records; ++r) {
        seed = seed * 1103515245u + 12345u;
        const size_t from = bytes.size() - 16 * (1 + (seed >> 26));
        for (int b = 0; b < 4; ++b) {
            bytes.push_back(static_cast<uint8_t>(r >> (8 * b)));
        }
        for (size_t i = 4; i < 16; ++i) {
            bytes.push_back(bytes[from + i]);
        }
    }
    return bytes;
}

// Runs of 24 bytes copied from three distances in turn, a fresh byte after
// each: the encoder must reach back through R1 and R2 (which swap with R0)
// as well as R0.
std::vector<uint8_t> RotatingCopies(size_t runs, uint32_t seed)
{
    const size_t distances[] = {1000, 1700, 2900};
    std::vector<uint8_t> bytes = NoiseBytes(4096, seed);
    std::vector<uint8_t> fresh = NoiseBytes(runs, seed + 1);
    for (size_t r = 0; r < runs; ++r) {
        const size_t from = bytes.size() - distances[r % 3 == 2 ? (r / 3) % 3 : r % 3];
        for (size_t i = 0; i < 24; ++i) {
            bytes.push_back(bytes[from + i]);
        }
        bytes.push_back(fresh[r]);
    }
    return bytes;
}

// Three frames of noise, the last one ending in a short copy from 1000
// back (too short to keep the frames from going out uncompressed), then a
// frame of text that starts with a long copy from 1000 back: a repeat of
// R0, which the decoder has only from the uncompressed block's header.
std::vector<uint8_t> RepeatAcrossRawBlock()
{
    std::vector<uint8_t> bytes = NoiseBytes(3 * 32768, 51);
    const std::vector<uint8_t> text = SampleBytes(32768, 53);
    bytes.insert(bytes.end(), text.begin(), text.end());
    for (size_t i = 3 * 32768 - 40; i < 3 * 32768 + 600; ++i) {
        bytes[i] = bytes[i - 1000];
    }
    return bytes;
}

// Zeros with two 300-byte noise blocks repeated: one exactly the farthest
// offset the encoder reaches back, 2^windowBits - 4 (a 257-byte match at
// that offset, and the rest as a repeat), one a byte farther (which the
// format allows, but 7-Zip gets wrong: interop.sh checks that).
std::vector<uint8_t> FarRepeats(unsigned windowBits)
{
    const size_t farthest = (size_t{1} << windowBits) - 4;
    std::vector<uint8_t> bytes(farthest + 1200, 0);
    const std::vector<uint8_t> a = NoiseBytes(300, 41);
    const std::vector<uint8_t> b = NoiseBytes(300, 43);
    for (size_t i = 0; i < 300; ++i) {
        bytes[10 + i] = bytes[10 + farthest + i] = a[i];
        bytes[500 + i] = bytes[500 + farthest + 1 + i] = b[i];
    }
    return bytes;
}

// Text with 0xE8 operands at the call filter's edges: operand values at the
// bounds of the range that is translated (which depend on the position),
// 0xE8 bytes inside an operand (the scan skips all 4 bytes after an 0xE8),
// each frame's last scanned position or its first unscanned one, operands
// running into the next frame; and a short last frame, never translated.
std::vector<uint8_t> CallFilterEdges(uint32_t frames, uint32_t tail)
{
    const uint32_t total = frames * 32768 + tail;
    const int64_t size = LzxTranslationSize(total);
    std::vector<uint8_t> bytes = SampleBytes(total, 5);
    auto put = [&](int64_t at, int64_t operand) {
        bytes[static_cast<size_t>(at)] = 0xE8;
        for (int b = 0; b < 4; ++b) {
            bytes[static_cast<size_t>(at + 1 + b)] = static_cast<uint8_t>(static_cast<uint64_t>(operand) >> (8 * b));
        }
    };
    for (uint32_t f = 0; f < frames; ++f) {
        const int64_t start = int64_t{f} * 32768;
        const int64_t end = start + 32768;
        for (int k = 0; k < 12; ++k) {
            const int64_t at = start + 100 + 7 * k;
            const int64_t bounds[] = {0,         1,        -1,   -at,       -at - 1,   size - at - 1,
                                      size - at, size - 1, size, INT32_MAX, INT32_MIN, 12345};
            put(at, bounds[k]);
        }
        // The operand's last byte is an 0xE8 the scan must skip; the next
        // bytes would form an operand in range.
        put(start + 300, -0x18000000);
        std::fill_n(bytes.begin() + start + 305, 4, 0);
        bytes[static_cast<size_t>(start + 305)] = 5;
        put(f % 2 == 0 ? end - 11 : end - 10, 1000);
        if (f + 1 < frames) {
            put(end - 2, 7);
        }
    }
    if (tail >= 5) {
        put(int64_t{frames} * 32768, 1);
    }
    return bytes;
}

struct LzxCase {
    const char *Title;
    unsigned WindowBits;
    unsigned Level;
    uint32_t FolderLimit;
    std::vector<std::vector<uint8_t>> Files;
    unsigned FirstBlockType; // of the first folder's first block; 0: any
};

} // namespace

class LzxCabinetTest : public ToolTest {
protected:
    // Writes the files as one cabinet and reads them back. The cabinet's
    // folders, as written, go to folders.
    ::testing::AssertionResult RoundTrip(const LzxCase &c, std::vector<LzxFolderBlocks> &folders)
    {
        CMemorySource source;
        std::vector<CabMember> members;
        for (size_t i = 0; i < c.Files.size(); ++i) {
            CabMember member;
            member.Name = member.Source = "file" + std::to_string(i);
            member.Size = static_cast<uint32_t>(c.Files[i].size());
            source.Data[member.Source] = c.Files[i];
            members.push_back(member);
        }
        CabOptions options;
        options.Method = Compression::Lzx;
        options.LzxWindowBits = c.WindowBits;
        options.LzxLevel = c.Level;
        options.FolderLimit = c.FolderLimit;
        Written written = ::Write(members, source, options);
        if (!written.Ok) {
            return ::testing::AssertionFailure() << "writing failed: " << written.Error;
        }
        Write("lzx.cab", written.Cabinet);
        folders = FolderBlocks(written.Cabinet);

        CPackageReader reader;
        CQuietObserver observer;
        std::string error;
        Remove("out");
        if (!reader.Open(At("lzx.cab"), error) || !reader.Extract(At("out"), observer, error)) {
            return ::testing::AssertionFailure() << "the extractor failed: " << error;
        }
        for (const CabMember &member : members) {
            if (Read("out/" + member.Name) != source.Data[member.Source]) {
                return ::testing::AssertionFailure() << member.Name << " decodes to other bytes";
            }
        }
        return ::testing::AssertionSuccess();
    }
};

TEST_F(LzxCabinetTest, RoundTripsThroughTheExtractorWithinTheFormatsLimits)
{
    const std::vector<uint8_t> text = SampleBytes(150000, 3);
    const std::vector<uint8_t> noise = NoiseBytes(70001, 9);
    const LzxCase cases[] = {
        {"text, window 2^15, level 1", 15, 1, CAB_MAX_FOLDER_BYTES, {text}, LZX_BLOCK_VERBATIM},
        {"text, window 2^21, best", 21, LZX_MAX_LEVEL, CAB_MAX_FOLDER_BYTES, {text}, LZX_BLOCK_VERBATIM},
        {"records at multiples of 16",
         21,
         LZX_DEFAULT_LEVEL,
         CAB_MAX_FOLDER_BYTES,
         {AlignedRecords(9000, 5)},
         LZX_BLOCK_ALIGNED},
        {"noise, odd size", 21, LZX_DEFAULT_LEVEL, CAB_MAX_FOLDER_BYTES, {noise}, LZX_BLOCK_UNCOMPRESSED},
        {"text, then noise, then text", 16, 3, CAB_MAX_FOLDER_BYTES, {text, noise, text}, LZX_BLOCK_VERBATIM},
        {"R0 kept across an uncompressed block",
         16,
         LZX_DEFAULT_LEVEL,
         CAB_MAX_FOLDER_BYTES,
         {RepeatAcrossRawBlock()},
         0},
        {"repeated offsets R0-R2", 17, LZX_DEFAULT_LEVEL, CAB_MAX_FOLDER_BYTES, {RotatingCopies(3000, 7)}, 0},
        {"farthest offset, window 2^15", 15, 2, CAB_MAX_FOLDER_BYTES, {FarRepeats(15)}, 0},
        {"farthest offset, window 2^21", 21, 2, CAB_MAX_FOLDER_BYTES, {FarRepeats(21)}, 0},
        {"call filter edges, last frame of 11",
         21,
         LZX_DEFAULT_LEVEL,
         CAB_MAX_FOLDER_BYTES,
         {CallFilterEdges(4, 11)},
         0},
        {"call filter edges, last frame of 9", 18, 1, CAB_MAX_FOLDER_BYTES, {CallFilterEdges(2, 9)}, 0},
        {"one byte", 21, LZX_DEFAULT_LEVEL, CAB_MAX_FOLDER_BYTES, {{'x'}}, LZX_BLOCK_UNCOMPRESSED},
        {"only an empty file", 21, LZX_DEFAULT_LEVEL, CAB_MAX_FOLDER_BYTES, {{}}, 0},
        // Folders of 2 frames, 2 frames, 2 frames and a byte, 1 frame: frame
        // edges within and at the end of folders, each folder a new stream.
        {"folders ending at and beside frame edges",
         21,
         LZX_DEFAULT_LEVEL,
         65536,
         {SampleBytes(65536, 1), SampleBytes(65535, 2), {'y'}, SampleBytes(65537, 3), SampleBytes(32767, 4), {}, {'z'}},
         0},
    };
    for (const LzxCase &c : cases) {
        SCOPED_TRACE(c.Title);
        std::vector<LzxFolderBlocks> folders;
        ASSERT_TRUE(RoundTrip(c, folders));
        for (const LzxFolderBlocks &folder : folders) {
            EXPECT_EQ(folder.Compression, CAB_COMPRESS_LZX | c.WindowBits << 8);
            for (size_t b = 0; b < folder.Blocks.size(); ++b) {
                EXPECT_LE(folder.Blocks[b].first.size(), CAB_MAX_PAYLOAD) << "block " << b;
                EXPECT_EQ(folder.Blocks[b].first.size() % 2, 0u) << "block " << b << " ends inside a 16-bit word";
                if (b + 1 < folder.Blocks.size()) {
                    EXPECT_EQ(folder.Blocks[b].second, 32768u) << "block " << b;
                }
            }
        }
        if (c.FirstBlockType != 0) {
            EXPECT_EQ(BlockTypeAt(folders.at(0).Blocks.at(0).first, true), c.FirstBlockType);
        }
    }
}

// Fifteen frames of two letters and one of noise, all literals, as one
// block: under one code the noise frame would take some 48 KiB, beyond what
// readers accept of a CFDATA block. The writer gives each frame a block of
// its own instead, and the noise frame goes out uncompressed.
TEST_F(LzxCabinetTest, BlockWriterKeepsEveryFrameWithinTheReadersLimit)
{
    constexpr unsigned FRAMES = 16;
    std::vector<uint8_t> data = NoiseBytes(FRAMES * 32768, 31);
    for (size_t i = 0; i < (FRAMES - 1) * 32768; ++i) {
        data[i] = static_cast<uint8_t>('a' + (data[i] & 1));
    }
    std::vector<LzxItem> items;
    std::vector<uint32_t> ends, sizes, repeats;
    for (unsigned f = 0; f < FRAMES; ++f) {
        for (size_t i = 0; i < 32768; ++i) {
            items.push_back({data[f * 32768 + i], 0, 0});
        }
        ends.push_back(static_cast<uint32_t>(items.size()));
        sizes.push_back(32768);
        repeats.insert(repeats.end(), {1, 1, 1});
    }
    LzxBlock block;
    block.Items = items.data();
    block.FrameItemEnds = ends.data();
    block.FrameSizes = sizes.data();
    block.FrameRepeats = repeats.data();
    block.Frames = FRAMES;
    block.Raw = data.data();
    CLzxBlockWriter writer(LZX_LITERALS + 8 * LzxSlotCount(16));
    writer.StartFolder(0);
    std::vector<uint8_t> out;
    std::vector<uint32_t> frameEnds;
    writer.Write(block, out, frameEnds);
    ASSERT_EQ(frameEnds.size(), FRAMES);
    EXPECT_EQ(writer.Stats().Uncompressed, 1u);

    TestLib::CCabBuilder builder;
    builder.AddFolder(TestLib::LzxType(16)).AddRawFile("data", static_cast<uint32_t>(data.size()));
    for (unsigned f = 0; f < FRAMES; ++f) {
        const uint32_t start = f == 0 ? 0 : frameEnds[f - 1];
        EXPECT_LE(frameEnds[f] - start, CAB_MAX_PAYLOAD) << "frame " << f;
        builder.AddRawBlock({out.begin() + start, out.begin() + frameEnds[f]}, 32768);
    }
    Write("blocks.cab", builder.Build().Bytes);
    CPackageReader reader;
    CQuietObserver observer;
    std::string error;
    ASSERT_TRUE(reader.Open(At("blocks.cab"), error) && reader.Extract(At("out"), observer, error)) << error;
    EXPECT_TRUE(Read("out/data") == data);
}

// Frequencies that give plain Huffman codes deeper than the LZX limits
// (Fibonacci numbers), and the degenerate ones: the lengths must stay
// within the limit and form a complete code (Kraft sum exactly 1), since
// every decoder refuses anything else, and every used symbol needs a code.
TEST(HuffmanCode, LengthsStayWithinTheLimitAndMakeACompleteCode)
{
    auto fibonacci = [](size_t count) {
        std::vector<uint32_t> counts = {1, 1};
        while (counts.size() < count) {
            counts.push_back(counts[counts.size() - 1] + counts[counts.size() - 2]);
        }
        return counts;
    };
    struct Case {
        const char *Title;
        std::vector<uint32_t> Counts;
        unsigned Limit;
    } cases[] = {
        {"main tree, 18 Fibonacci counts: one level too deep", fibonacci(18), 16},
        {"main tree, 30 Fibonacci counts", fibonacci(30), 16},
        {"pre-tree, 20 Fibonacci counts", fibonacci(20), 15},
        {"aligned tree, one symbol dominating", {0, 100000, 1, 1, 1, 1, 1, 1}, 7},
        {"one symbol used", {0, 0, 9, 0}, 16},
        {"one symbol used, the first", {9, 0, 0}, 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Title);
        std::vector<uint8_t> lengths(c.Counts.size(), 99);
        BuildCodeLengths(c.Counts.data(), static_cast<unsigned>(c.Counts.size()), c.Limit, lengths.data());
        uint64_t kraft = 0;
        for (size_t sym = 0; sym < lengths.size(); ++sym) {
            EXPECT_LE(lengths[sym], c.Limit) << "symbol " << sym;
            EXPECT_TRUE(c.Counts[sym] == 0 || lengths[sym] != 0) << "symbol " << sym;
            kraft += lengths[sym] ? uint64_t{1} << (16 - lengths[sym]) : 0;
        }
        EXPECT_EQ(kraft, uint64_t{1} << 16);
    }
    std::vector<uint8_t> none(5, 99);
    BuildCodeLengths(std::vector<uint32_t>(5, 0).data(), 5, 16, none.data());
    EXPECT_EQ(none, std::vector<uint8_t>(5, 0));
}

// The canonical code of RFC 1951's example (lengths 3 3 3 3 3 2 4 4), which
// LZX shares with deflate.
TEST(HuffmanCode, CanonicalCodesGoByLengthThenSymbol)
{
    const uint8_t lengths[] = {3, 3, 3, 3, 3, 2, 4, 4, 0};
    uint16_t codes[9];
    BuildCanonicalCodes(lengths, 9, codes);
    const uint16_t expected[] = {0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111};
    for (unsigned sym = 0; sym < 8; ++sym) {
        EXPECT_EQ(codes[sym], expected[sym]) << "symbol " << sym;
    }
}
