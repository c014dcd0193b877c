// LZX codec across frames and folders: frame and window boundaries, the E8
// call filter, resets, and the window sizes with their slot counts.
#include <algorithm>

#include <gtest/gtest.h>

#include "tests/fdi/CodecRun.h"
#include "tests/testlib/CabBuilder.h"
#include "tests/testlib/LzxWriter.h"

namespace {

using namespace TestLib;
using CodecTest::Blocks;
using CodecTest::CExpected;
using CodecTest::Decoded;
using Fdi::Status;

constexpr uint32_t FRAME = CLzxWriter::FRAME;

Decoded DecodeLzx(unsigned windowBits, const Blocks &blocks, const std::vector<uint32_t> &sizes)
{
    return CodecTest::Decode(CodecTest::Method::Lzx, windowBits, blocks, sizes);
}

// Ops that repeat R0 (which must be 1) for exactly `length` bytes.
std::vector<LzxOp> RepeatRun(uint32_t length)
{
    std::vector<LzxOp> ops;
    for (; length > 257 + 1; length -= 257) {
        ops.push_back(Rep(257, 0));
    }
    if (length > 257) {
        ops.push_back(Rep(length - 2, 0));
        length = 2;
    }
    ops.push_back(Rep(length, 0));
    return ops;
}

// Little-endian 32-bit operand after an 0xE8 byte at data[at].
void PutCall(std::vector<uint8_t> &data, size_t at, uint32_t operand)
{
    data.at(at) = 0xE8;
    for (unsigned i = 0; i < 4; ++i) {
        data.at(at + 1 + i) = static_cast<uint8_t>(operand >> (8 * i));
    }
}

// A folder holding `data` in one uncompressed block, framed in 32 KiB.
Blocks UncompressedFolder(const std::vector<uint8_t> &data, uint32_t e8Size)
{
    CLzxWriter lzx(16);
    lzx.StreamHeader(e8Size);
    lzx.UncompressedBlock(static_cast<uint32_t>(data.size()));
    for (size_t done = 0; done < data.size(); done += FRAME) {
        const size_t end = data.size() - done < FRAME ? data.size() : done + FRAME;
        lzx.RawBytes(
            std::vector<uint8_t>(data.begin() + static_cast<long>(done), data.begin() + static_cast<long>(end)));
        lzx.EndFrame();
    }
    return lzx.Finish();
}

TEST(LzxFrame, BlocksRunAcrossFrames)
{
    // A verbatim block and an odd-length uncompressed block both span frame
    // boundaries; each frame is its own CFDATA block.
    const std::vector<uint8_t> raw = RandomBytes(40001, 5);
    CLzxWriter lzx(16);
    lzx.StreamHeader(0);
    const std::vector<LzxOp> frame1 = Join({Lit('q')}, RepeatRun(FRAME - 1));
    const std::vector<LzxOp> frame2 = RepeatRun(100);
    const std::vector<LzxOp> all = Join(frame1, frame2);
    lzx.VerbatimBlock(FRAME + 100, lzx.MainTreeFor(all), CLzxWriter::LengthTreeFor(all));
    lzx.Write(frame1);
    lzx.EndFrame();
    lzx.Write(frame2);
    // Frame 2 goes on with raw bytes: 32668 here, the rest in frame 3.
    lzx.UncompressedBlock(static_cast<uint32_t>(raw.size()));
    lzx.RawBytes(std::vector<uint8_t>(raw.begin(), raw.begin() + (FRAME - 100)));
    lzx.EndFrame();
    lzx.RawBytes(std::vector<uint8_t>(raw.begin() + (FRAME - 100), raw.end()));
    lzx.PadByte();
    lzx.VerbatimOps(Lits("end"));
    CExpected expected;
    expected.Literals("q").Copy(1, FRAME + 99).Literals(raw).Literals("end");
    const Decoded result = DecodeLzx(16, lzx.Finish(), CodecTest::FrameSizes(expected.Size()));
    ASSERT_EQ(result.Status, Status::Ok) << "block " << result.FailedBlock;
    EXPECT_EQ(result.Output, expected.Bytes());
}

TEST(LzxFrame, MatchCrossingTheFrameEndIsBad)
{
    // The block goes on, but a match of 10 bytes starts 5 before the frame
    // end.
    CLzxWriter lzx(16);
    lzx.StreamHeader(0);
    std::vector<LzxOp> ops = {Lit('q')};
    for (const LzxOp &op : RepeatRun(FRAME - 6)) {
        ops.push_back(op);
    }
    ops.push_back(Rep(10, 0));
    lzx.VerbatimBlock(FRAME + 100, lzx.MainTreeFor(ops), CLzxWriter::LengthTreeFor(ops));
    lzx.Write(ops);
    const Decoded result = DecodeLzx(16, lzx.Finish(), {FRAME, 100});
    EXPECT_EQ(result.Status, Status::BadData);
    EXPECT_EQ(result.FailedBlock, 0u);
}

TEST(LzxFrame, OnlyTheLastFrameMayBeShort)
{
    const std::vector<uint8_t> data = RandomBytes(FRAME + 10, 9);
    Blocks blocks = UncompressedFolder(data, 0);
    ASSERT_EQ(DecodeLzx(16, blocks, {FRAME, 10}).Status, Status::Ok);
    // The same bytes cut into a short frame followed by another one.
    CLzxWriter lzx(16);
    lzx.StreamHeader(0);
    lzx.UncompressedBlock(static_cast<uint32_t>(data.size()));
    lzx.RawBytes(std::vector<uint8_t>(data.begin(), data.begin() + 1000));
    lzx.EndFrame();
    lzx.RawBytes(std::vector<uint8_t>(data.begin() + 1000, data.end()));
    const Decoded result = DecodeLzx(16, lzx.Finish(), {1000, FRAME - 990});
    EXPECT_EQ(result.Status, Status::BadData);
    EXPECT_EQ(result.FailedBlock, 1u);
}

TEST(LzxFrame, PadByteOfABlockEndingWithTheFrame)
{
    // An odd uncompressed block that ends exactly at the frame end: its pad
    // byte may close this CFDATA block or open the next one. In the second
    // case the next block's words start at odd offsets, and so does the
    // 16-bit alignment of a later uncompressed block.
    const std::vector<uint8_t> raw = RandomBytes(FRAME - 1, 3);
    for (bool padInNextBlock : {false, true}) {
        CLzxWriter lzx(16);
        lzx.StreamHeader(0);
        lzx.VerbatimOps(Lits("x"));
        lzx.UncompressedBlock(FRAME - 1);
        lzx.RawBytes(raw);
        if (!padInNextBlock) {
            lzx.PadByte();
        }
        lzx.EndFrame();
        if (padInNextBlock) {
            lzx.PadByte(0);
        }
        lzx.VerbatimOps(Lits("next frame"));
        lzx.UncompressedBlock(4);
        lzx.RawBytes(Bytes("RAW!"));
        CExpected expected;
        expected.Literals("x").Literals(raw).Literals("next frame").Literals("RAW!");
        const Decoded result = DecodeLzx(16, lzx.Finish(), {FRAME, 14});
        ASSERT_EQ(result.Status, Status::Ok) << padInNextBlock;
        EXPECT_EQ(result.Output, expected.Bytes());
    }
}

TEST(LzxFrame, MatchesReachIntoThePreviousWindowCycle)
{
    // A 2^15 window holds one frame: frame 2 starts over at window offset 0
    // and its matches read the end of frame 1, across the window's end.
    // Frame 2 ends the decoder's buffer with a 2-byte match (whose copy
    // overshoots into the buffer's slack), and frame 3 starts with a match
    // whose source runs across the buffer's end into its own first bytes.
    const std::vector<uint8_t> first = RandomBytes(FRAME, 21);
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    lzx.UncompressedBlock(FRAME);
    lzx.RawBytes(first);
    lzx.EndFrame();
    // 32765 is the largest offset a 2^15 window can code (W - 3).
    std::vector<LzxOp> ops = {Copy(20, 100), Copy(200, 150), Copy(30, 32765), Copy(257, 7), Copy(2, 32000)};
    CExpected expected;
    expected.Literals(first).Copy(100, 20).Copy(150, 200).Copy(32765, 30).Copy(7, 257).Copy(32000, 2);
    while (expected.Size() < 2 * FRAME - 2) {
        const uint32_t length = std::min<uint32_t>(257, static_cast<uint32_t>(2 * FRAME - 2 - expected.Size()));
        ops.push_back(Copy(length, 1000));
        expected.Copy(1000, length);
    }
    ops.push_back(Copy(2, 5000));
    expected.Copy(5000, 2);
    lzx.VerbatimOps(ops);
    lzx.EndFrame();
    lzx.VerbatimOps({Copy(40, 30), Copy(20, 32765)});
    expected.Copy(30, 40).Copy(32765, 20);
    const Decoded result = DecodeLzx(15, lzx.Finish(), CodecTest::FrameSizes(expected.Size()));
    ASSERT_EQ(result.Status, Status::Ok);
    EXPECT_EQ(result.Output, expected.Bytes());
}

TEST(LzxFrame, WindowSizesAndTheirLastSlot)
{
    // Fill each window once, then match with offsets from its last position
    // slot, up to W - 3: the slot count (30, 32, 34, 36, 38, 42, 50) must be
    // right for the trees to be read at all, and the offsets for the bytes.
    for (unsigned bits = 15; bits <= 21; ++bits) {
        const uint32_t window = 1u << bits;
        const std::vector<uint8_t> first = RandomBytes(FRAME, bits);
        CLzxWriter lzx(bits);
        lzx.StreamHeader(0);
        lzx.UncompressedBlock(FRAME);
        lzx.RawBytes(first);
        lzx.EndFrame();
        CExpected expected;
        expected.Literals(first);
        if (window > FRAME) {
            const std::vector<LzxOp> fill = RepeatRun(FRAME);
            lzx.VerbatimBlock(window - FRAME, lzx.MainTreeFor(fill), CLzxWriter::LengthTreeFor(fill));
            for (uint32_t done = FRAME; done < window; done += FRAME) {
                lzx.Write(fill);
                lzx.EndFrame();
            }
            expected.Copy(1, window - FRAME);
        }
        const LzxOffset last = LzxOffsetSlot(window - 3);
        ASSERT_EQ(8 * (last.Slot + 1) + 256, lzx.MainSymbols()) << bits;
        const std::vector<LzxOp> ops = {Copy(10, window - 3), Copy(10, window - 3 - (1u << last.ExtraBits) + 1),
                                        Copy(5, 1000)};
        lzx.VerbatimOps(ops);
        expected.Copy(window - 3, 10).Copy(window - 3 - (1u << last.ExtraBits) + 1, 10).Copy(1000, 5);
        const Decoded result = DecodeLzx(bits, lzx.Finish(), CodecTest::FrameSizes(expected.Size()));
        ASSERT_EQ(result.Status, Status::Ok) << bits << " bits, block " << result.FailedBlock;
        EXPECT_TRUE(result.Output == expected.Bytes()) << bits << " bits";
    }
}

TEST(LzxFrame, ResetStartsAFreshFolder)
{
    // Folder 1 leaves trees, repeated offsets, an E8 header and a window
    // position behind; folder 2 must decode as if the codec were new. A
    // window-size change between folders is a new codec; both must work
    // one after the other.
    CLzxWriter one(16);
    one.StreamHeader(12345678);
    one.UncompressedBlock(9, 7, 8, 9);
    one.RawBytes(Bytes("123456789"));
    one.PadByte();
    one.VerbatimOps(Join(Lits("abc"), {Copy(40, 3)}));
    const Blocks first = one.Finish();

    const auto folderTwo = [](unsigned windowBits) {
        CLzxWriter two(windowBits);
        two.StreamHeader(0);
        two.VerbatimOps(Join(Join({Lit(0xE8), Lit(1), Lit(0), Lit(0), Lit(0)}, Lits("abcdefghijklmnop")),
                             {Rep(2, 0), Rep(2, 1), Rep(2, 2)}));
        return two.Finish();
    };
    const Blocks second = folderTwo(16);
    CExpected expected;
    expected.Literals(std::vector<uint8_t>{0xE8, 1, 0, 0, 0}).Literals("abcdefghijklmnop").Copy(1, 6);

    Fdi::CCodec *codec = CodecTest::Create(CodecTest::Method::Lzx, 16);
    ASSERT_NE(codec, nullptr);
    ASSERT_EQ(CodecTest::RunBlocks(*codec, first, {52}).Status, Status::Ok);
    EXPECT_EQ(codec->Reset(), Status::Ok);
    const Decoded again = CodecTest::RunBlocks(*codec, second, {27});
    EXPECT_EQ(again.Status, Status::Ok);
    EXPECT_EQ(again.Output, expected.Bytes());
    CodecTest::TestAllocator().Delete(codec);

    const Decoded other = DecodeLzx(21, folderTwo(21), {27});
    EXPECT_EQ(other.Output, expected.Bytes());
}

TEST(LzxFrame, FailedCodecStaysFailedUntilReset)
{
    CLzxWriter bad(16);
    bad.StreamHeader(0);
    bad.BlockHeader(5, 10);
    const Blocks badBlocks = bad.Finish();
    CLzxWriter good(16);
    good.StreamHeader(0);
    good.VerbatimOps(Lits("fine"));
    const Blocks goodBlocks = good.Finish();

    Fdi::CCodec *codec = CodecTest::Create(CodecTest::Method::Lzx, 16);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(CodecTest::RunBlocks(*codec, badBlocks, {10}).Status, Status::BadData);
    EXPECT_EQ(CodecTest::RunBlocks(*codec, goodBlocks, {4}).Status, Status::BadData);
    codec->Reset();
    EXPECT_EQ(CodecTest::RunBlocks(*codec, goodBlocks, {4}).Output, Bytes("fine"));
    CodecTest::TestAllocator().Delete(codec);
}

struct E8Case {
    const char *Name;
    uint32_t Size;     // frame size
    uint32_t At;       // where the 0xE8 byte is
    uint32_t Operand;  // the stored operand
    uint32_t Expected; // the operand after decoding
};

TEST(LzxFrame, E8OperandsAreTranslatedWithinTheirLimits)
{
    constexpr uint32_t S = 0x01000000; // translation size
    const E8Case cases[] = {
        {"at 0, positive", 100, 0, 0x100, 0x100},
        {"positive: minus the position", 100, 20, 0x100, 0x100 - 20},
        {"zero", 100, 20, 0, static_cast<uint32_t>(-20)},
        {"largest positive", 100, 20, S - 1, S - 1 - 20},
        {"size itself: unchanged", 100, 20, S, S},
        {"negative, at -position: plus the size", 100, 20, static_cast<uint32_t>(-20), S - 20},
        {"negative, -1: plus the size", 100, 20, 0xFFFFFFFF, S - 1},
        {"negative, beyond -position: unchanged", 100, 20, static_cast<uint32_t>(-21), static_cast<uint32_t>(-21)},
        {"most negative: unchanged", 100, 20, 0x80000000, 0x80000000},
        {"largest: unchanged", 100, 20, 0x7FFFFFFF, 0x7FFFFFFF},
        {"11 bytes before the end", 100, 89, 0x1000, 0x1000 - 89},
        {"10 bytes before the end: untouched", 100, 90, 0x1000, 0x1000},
    };
    for (const E8Case &c : cases) {
        std::vector<uint8_t> data(c.Size, 0x55);
        PutCall(data, c.At, c.Operand);
        std::vector<uint8_t> expected = data;
        PutCall(expected, c.At, c.Expected);
        const Decoded result = DecodeLzx(16, UncompressedFolder(data, S), {c.Size});
        ASSERT_EQ(result.Status, Status::Ok) << c.Name;
        EXPECT_EQ(result.Output, expected) << c.Name;
        // Without the header bit nothing changes.
        EXPECT_EQ(DecodeLzx(16, UncompressedFolder(data, 0), {c.Size}).Output, data) << c.Name;
    }
}

TEST(LzxFrame, E8ScanSkipsTheOperandAndUsesTheFolderPosition)
{
    constexpr uint32_t S = 0x01000000;
    std::vector<uint8_t> data(FRAME + 200, 0);
    // An operand whose own bytes hold 0xE8 (still there after translation):
    // the scan resumes after the operand, or it would take 0xE8 00 00 00 00
    // at position 12 for another call.
    PutCall(data, 10, 0x0000E820);
    // In the second frame the position counts from the folder start.
    PutCall(data, FRAME + 30, 70000);
    std::vector<uint8_t> expected = data;
    PutCall(expected, 10, 0x0000E820 - 10);
    PutCall(expected, FRAME + 30, 70000 - (FRAME + 30));
    const Decoded result = DecodeLzx(16, UncompressedFolder(data, S), {FRAME, 200});
    ASSERT_EQ(result.Status, Status::Ok);
    EXPECT_EQ(result.Output, expected);
}

TEST(LzxFrame, E8OnlyInFramesLongerThanTenBytes)
{
    // A call at the start of a second frame of 11 bytes is translated (for
    // folder position 32768); one in a frame of 10 bytes is not.
    constexpr uint32_t S = 0x100000;
    for (uint32_t lastFrame : {11u, 10u}) {
        std::vector<uint8_t> data(FRAME + lastFrame, 0x33);
        PutCall(data, FRAME, 0x2000);
        std::vector<uint8_t> expected = data;
        if (lastFrame == 11) {
            PutCall(expected, FRAME, 0x2000 - FRAME);
        }
        const Decoded result = DecodeLzx(16, UncompressedFolder(data, S), {FRAME, lastFrame});
        ASSERT_EQ(result.Status, Status::Ok);
        EXPECT_EQ(result.Output, expected) << lastFrame;
    }
}

TEST(LzxFrame, E8TranslationLeavesTheWindowUntouched)
{
    // A call in frame 1 is copied by a match to the start of frame 2: the
    // copy holds the stored operand, translated for its new position.
    constexpr uint32_t S = 0x100000;
    std::vector<uint8_t> first(FRAME, 0x11);
    PutCall(first, 1000, 5000);
    CLzxWriter lzx(16);
    lzx.StreamHeader(S);
    lzx.UncompressedBlock(FRAME);
    lzx.RawBytes(first);
    lzx.EndFrame();
    const std::vector<uint8_t> tail(20, 0x22);
    std::vector<LzxOp> ops = {Copy(5, FRAME - 1000)};
    for (uint8_t byte : tail) {
        ops.push_back(Lit(byte));
    }
    lzx.VerbatimOps(ops);
    std::vector<uint8_t> expected = first;
    PutCall(expected, 1000, 5000 - 1000);
    std::vector<uint8_t> second(5, 0);
    PutCall(second, 0, 5000 - FRAME);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    const Decoded result = DecodeLzx(16, lzx.Finish(), {FRAME, 25});
    ASSERT_EQ(result.Status, Status::Ok);
    EXPECT_EQ(result.Output, expected);
}

TEST(LzxFrame, E8TranslationStopsAfterFrame32767)
{
    // The filter covers the first 2^30 bytes (frames 0-32767) only. Frames
    // 1-32766 are cheap repeats with identical payloads; frames 32767 and
    // 32768 each hold the same call, translated only in the first.
    constexpr uint32_t S = 0x7FFF0000;
    CLzxWriter lzx(15);
    lzx.StreamHeader(S);
    const std::vector<LzxOp> first = Join({Lit(0x90)}, RepeatRun(FRAME - 1));
    const std::vector<LzxOp> fill = RepeatRun(FRAME);
    const CodeLengths main = lzx.MainTreeFor(first);
    const CodeLengths length = CLzxWriter::LengthTreeFor(Join(first, fill));
    lzx.VerbatimBlock(FRAME, main, length);
    lzx.Write(first);
    lzx.EndFrame();
    lzx.VerbatimBlock(FRAME, main, length);
    lzx.Write(fill);
    lzx.EndFrame();
    std::vector<uint8_t> call(FRAME, 0x90);
    PutCall(call, 100, 0x10000);
    lzx.UncompressedBlock(FRAME);
    lzx.RawBytes(call);
    const Blocks payloads = lzx.Finish();
    ASSERT_EQ(payloads.size(), 3u);

    Fdi::CCodec *codec = CodecTest::Create(CodecTest::Method::Lzx, 15);
    ASSERT_NE(codec, nullptr);
    std::vector<uint8_t> in, out(FRAME);
    for (uint32_t frame = 0; frame <= 32768; ++frame) {
        const std::vector<uint8_t> &payload = payloads[frame == 0 ? 0 : frame < 32767 ? 1 : 2];
        in.assign(payload.begin(), payload.end());
        in.resize(payload.size() + Fdi::CODEC_INPUT_PADDING, 0);
        ASSERT_EQ(codec->DecodeBlock(in.data(), static_cast<uint32_t>(payload.size()), out.data(), FRAME), Status::Ok)
            << "frame " << frame;
        if (frame >= 32767) {
            std::vector<uint8_t> expected = call;
            if (frame == 32767) {
                PutCall(expected, 100, 0x10000 - (32767u * FRAME + 100));
            }
            EXPECT_EQ(out, expected) << "frame " << frame;
        }
    }
    CodecTest::TestAllocator().Delete(codec);
}

} // namespace
