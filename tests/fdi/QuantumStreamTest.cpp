// Quantum codec on streams from the test library's Quantum encoder:
// literals and every match selector, models kept across blocks (rescaling
// and re-sorting included), block trailers, small windows that wrap inside
// a frame, and the bounds every match must respect.
#include <gtest/gtest.h>

#include <random>

#include "tests/fdi/CodecRun.h"
#include "tests/testlib/BitWriter.h"
#include "tests/testlib/CabBuilder.h"

namespace {

using namespace TestLib;
using CodecTest::Blocks;
using CodecTest::CExpected;
using CodecTest::Decoded;
using Fdi::Status;

constexpr uint32_t FRAME = 32768;

Decoded DecodeQuantum(unsigned windowBits, const Blocks &blocks, const std::vector<uint32_t> &sizes)
{
    return CodecTest::Decode(CodecTest::Method::Quantum, windowBits, blocks, sizes);
}

// A stream of literals and matches, with the output it stands for. Frames
// are cut every 32768 bytes of output, as the format requires.
class CQuantumStream {
public:
    explicit CQuantumStream(unsigned windowBits) : m_Encoder(windowBits) {}

    CQuantumStream &Literals(const std::vector<uint8_t> &bytes)
    {
        for (uint8_t byte : bytes) {
            m_Encoder.Literal(byte);
            m_Expected.Literals(std::vector<uint8_t>{byte});
            Advance(1);
        }
        return *this;
    }
    CQuantumStream &Match(uint32_t offset, uint32_t length)
    {
        m_Encoder.Match(offset, length);
        m_Expected.Copy(offset, length);
        Advance(length);
        return *this;
    }
    // A match, after filler literals when it would cross the frame end.
    CQuantumStream &FitMatch(uint32_t offset, uint32_t length)
    {
        if (m_InFrame + length > FRAME) {
            Literals(std::vector<uint8_t>(FRAME - m_InFrame, 0x5A));
        }
        return Match(offset, length);
    }
    // Ends the last frame and returns the blocks, with `trailingZeros` zero
    // bytes after each.
    Blocks Finish(unsigned trailingZeros = 0)
    {
        if (m_InFrame > 0) {
            m_Sizes.push_back(m_InFrame);
            m_Blocks.push_back(m_Encoder.FinishBlock(trailingZeros));
            m_InFrame = 0;
        }
        for (std::vector<uint8_t> &block : m_Pending) {
            block.resize(block.size() + trailingZeros, 0);
        }
        Blocks all = m_Pending;
        all.insert(all.end(), m_Blocks.begin(), m_Blocks.end());
        return all;
    }
    const std::vector<uint32_t> &Sizes() const { return m_Sizes; }
    const std::vector<uint8_t> &Expected() const { return m_Expected.Bytes(); }
    CQuantumEncoder &Encoder() { return m_Encoder; }

private:
    void Advance(uint32_t length)
    {
        m_InFrame += length;
        ASSERT_LE(m_InFrame, FRAME) << "a match may not cross a frame";
        if (m_InFrame == FRAME) {
            m_Sizes.push_back(FRAME);
            m_Pending.push_back(m_Encoder.FinishBlock());
            m_InFrame = 0;
        }
    }

    CQuantumEncoder m_Encoder;
    CExpected m_Expected;
    uint32_t m_InFrame = 0;
    std::vector<uint32_t> m_Sizes;
    Blocks m_Pending; // full frames, still without trailers
    Blocks m_Blocks;  // the last, short frame
};

::testing::AssertionResult Decodes(unsigned windowBits, CQuantumStream &stream, unsigned trailingZeros = 0)
{
    const Blocks blocks = stream.Finish(trailingZeros);
    const Decoded result = DecodeQuantum(windowBits, blocks, stream.Sizes());
    if (result.Status != Status::Ok) {
        return ::testing::AssertionFailure() << "block " << result.FailedBlock << " failed";
    }
    if (result.Output != stream.Expected()) {
        return ::testing::AssertionFailure() << "output differs";
    }
    return ::testing::AssertionSuccess();
}

uint32_t Next(std::mt19937 &random)
{
    return static_cast<uint32_t>(random());
}

std::vector<uint8_t> AllBytes()
{
    std::vector<uint8_t> bytes(256);
    for (unsigned i = 0; i < 256; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    return bytes;
}

TEST(QuantumStream, LiteralsFromAllFourModels)
{
    CQuantumStream stream(16);
    stream.Literals(AllBytes()).Literals(Bytes("Quantum literal text"));
    EXPECT_TRUE(Decodes(16, stream));
}

TEST(QuantumStream, MatchesOfEverySelectorLengthAndSlot)
{
    // Selector 4 (length 3) and 5 (length 4) with offsets from each of their
    // slots, selector 6 with every length slot and offsets up to the window.
    const unsigned bits = 17;
    CQuantumStream stream(bits);
    // A full window of varied history, cheaply: random literals, then long
    // matches from pseudo-random offsets, each followed by a literal.
    std::mt19937 random(3);
    stream.Literals(RandomBytes(2000, 1));
    while (stream.Expected().size() < (1u << bits)) {
        const uint32_t room = (1u << bits) - static_cast<uint32_t>(stream.Expected().size());
        if (room < 300) {
            stream.Literals(RandomBytes(room, room));
            break;
        }
        stream.FitMatch(1 + Next(random) % static_cast<uint32_t>(stream.Expected().size()), 259);
        stream.Literals({static_cast<uint8_t>(Next(random))});
    }
    std::vector<uint32_t> offsets;
    for (uint32_t offset = 1; offset <= (1u << bits); offset = offset * 3 / 2 + 1) {
        offsets.push_back(offset);
    }
    offsets.push_back(1u << bits);
    for (uint32_t offset : offsets) {
        if (QuantumOffsetSlot(offset).Slot < 24) {
            stream.FitMatch(offset, 3);
        }
        if (QuantumOffsetSlot(offset).Slot < 34) {
            stream.FitMatch(offset, 4);
        }
        stream.FitMatch(offset, 5);
    }
    for (uint32_t length = 5; length <= 259; ++length) {
        stream.FitMatch(1000 + length, length);
    }
    EXPECT_TRUE(Decodes(bits, stream));
}

TEST(QuantumStream, ModelsCarryAcrossBlocksAndRescale)
{
    // Several full frames of skewed data: each model passes its rescale
    // limit many times, re-sorting on the 4th and every 50th, and every
    // block starts with the models the last one left.
    std::mt19937 random(7);
    std::discrete_distribution<int> skew({50, 20, 10, 5, 5, 3, 2, 2, 1, 1, 1});
    CQuantumStream stream(18);
    std::vector<uint8_t> bytes;
    for (unsigned i = 0; i < 4 * FRAME; ++i) {
        const unsigned pick = static_cast<unsigned>(skew(random));
        if (pick == 10 && stream.Expected().size() % FRAME < FRAME - 300 && stream.Expected().size() > 1000) {
            stream.Literals(bytes);
            bytes.clear();
            stream.Match(1 + Next(random) % 900, 3 + Next(random) % 200);
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(pick * 23 + (pick > 6 ? Next(random) % 64 : 0)));
        if (bytes.size() == 64) {
            stream.Literals(bytes);
            bytes.clear();
        }
    }
    stream.Literals(bytes);
    EXPECT_TRUE(Decodes(18, stream));
}

TEST(QuantumStream, TrailingPaddingOfZeroToFourBytes)
{
    for (unsigned trailing = 0; trailing <= 4; ++trailing) {
        CQuantumStream stream(15);
        stream.Literals(RandomBytes(3000, 9)).Literals(Bytes("tail")).Match(4, 40);
        EXPECT_TRUE(Decodes(15, stream, trailing)) << trailing << " trailing bytes";
    }
}

TEST(QuantumStream, SmallWindowWrapsInsideTheFrame)
{
    // A 1 KiB window wraps 32 times in one frame; matches reach back up to
    // the whole window, across its end.
    CQuantumStream stream(10);
    stream.Literals(RandomBytes(1100, 99));
    for (unsigned round = 0; round < 40; ++round) {
        stream.Literals(RandomBytes(500, round));
        stream.FitMatch(1024, 100).FitMatch(700, 259).FitMatch(3, 3).FitMatch(1000, 4);
    }
    EXPECT_TRUE(Decodes(10, stream));
}

TEST(QuantumStream, WindowSizesOutsideTenToTwentyOneAreRefused)
{
    Status status = Status::Ok;
    for (unsigned bits : {0u, 9u, 22u}) {
        EXPECT_EQ(Fdi::CreateQuantum(CodecTest::TestAllocator(), 1, bits, &status), nullptr);
        EXPECT_EQ(status, Status::BadCompression) << bits;
    }
    for (unsigned bits = 10; bits <= 21; ++bits) {
        CQuantumStream stream(bits);
        stream.Literals(Bytes("window")).Match(6, 12);
        EXPECT_TRUE(Decodes(bits, stream)) << bits;
    }
    EXPECT_EQ(CodecTest::g_LiveAllocations, 0);
}

TEST(QuantumStream, MatchBeforeTheFolderStartIsBad)
{
    for (uint32_t offset : {10u, 11u}) {
        CQuantumStream stream(12);
        stream.Literals(Bytes("0123456789"));
        stream.Encoder().Match(offset, 5);
        Blocks blocks = stream.Finish();
        const Decoded result = DecodeQuantum(12, blocks, {15});
        EXPECT_EQ(result.Status, offset == 10 ? Status::Ok : Status::BadData) << offset;
    }
}

TEST(QuantumStream, MatchBeforeTheStartOfASmallWindowIsBad)
{
    // 2^10 window: offset 1024 is fine once 1024 bytes exist, not before.
    for (uint32_t produced : {1023u, 1024u}) {
        CQuantumStream stream(10);
        stream.Literals(RandomBytes(produced, 4));
        stream.Encoder().Match(1024, 4);
        const Decoded result = DecodeQuantum(10, stream.Finish(), {produced + 4});
        EXPECT_EQ(result.Status, produced == 1024 ? Status::Ok : Status::BadData) << produced;
    }
}

TEST(QuantumStream, MatchOverrunningTheFrameIsBad)
{
    // The frame is declared 20 bytes; the match would end at 22.
    CQuantumStream stream(12);
    stream.Literals(Bytes("0123456789abcdef"));
    stream.Encoder().Match(4, 6);
    const Blocks blocks = stream.Finish();
    EXPECT_EQ(DecodeQuantum(12, blocks, {22}).Status, Status::Ok);
    EXPECT_EQ(DecodeQuantum(12, blocks, {20}).Status, Status::BadData);
}

TEST(QuantumStream, TruncatedBlockIsBad)
{
    CQuantumStream stream(16);
    stream.Literals(RandomBytes(3000, 5)).Match(100, 200);
    const Blocks blocks = stream.Finish();
    for (size_t keep : {blocks[0].size() - 3, blocks[0].size() / 2, size_t{1}, size_t{0}}) {
        Blocks cut = blocks;
        cut[0].resize(keep);
        EXPECT_EQ(DecodeQuantum(16, cut, stream.Sizes()).Status, Status::BadData) << keep;
    }
}

TEST(QuantumStream, ResetStartsFreshModels)
{
    CQuantumStream first(16);
    first.Literals(RandomBytes(5000, 1)).Match(4000, 259);
    const Blocks firstBlocks = first.Finish();
    CQuantumStream second(16);
    second.Literals(Bytes("fresh models")).Match(6, 30);
    const Blocks secondBlocks = second.Finish();

    Fdi::CCodec *codec = CodecTest::Create(CodecTest::Method::Quantum, 16);
    ASSERT_NE(codec, nullptr);
    ASSERT_EQ(CodecTest::RunBlocks(*codec, firstBlocks, first.Sizes()).Status, Status::Ok);
    codec->Reset();
    EXPECT_EQ(CodecTest::RunBlocks(*codec, secondBlocks, second.Sizes()).Output, second.Expected());
    // A failure sticks until the next Reset.
    EXPECT_EQ(CodecTest::RunBlocks(*codec, secondBlocks, {1000}).Status, Status::BadData);
    EXPECT_EQ(CodecTest::RunBlocks(*codec, secondBlocks, second.Sizes()).Status, Status::BadData);
    codec->Reset();
    EXPECT_EQ(CodecTest::RunBlocks(*codec, secondBlocks, second.Sizes()).Output, second.Expected());
    CodecTest::TestAllocator().Delete(codec);
}

TEST(QuantumStream, JunkBlocksFailCleanly)
{
    // Random payloads up to the largest legal block: any status but a crash
    // or an out-of-bounds access (run under ASan); the output size is the
    // caller's either way.
    std::mt19937 random(99);
    for (unsigned round = 0; round < 40; ++round) {
        const size_t size = round == 0 ? Fdi::CODEC_INPUT_MAX : Next(random) % 3000;
        const unsigned bits = 10 + Next(random) % 12;
        const Decoded result = DecodeQuantum(bits, {RandomBytes(size, round)}, {FRAME});
        EXPECT_TRUE(result.Status == Status::Ok || result.Status == Status::BadData);
    }
}

} // namespace
