// LZX codec on hand-built streams: block types, trees, offsets, matches.
//
// Each test writes a stream with the test library's LZX writer, decodes it
// block by block through the codec interface and compares the output with
// a plain LZ77 expansion, or expects BadData for a stream that breaks a
// format rule. The cases follow the format rules one by one; the names say
// which rule each pins.
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

Decoded DecodeLzx(unsigned windowBits, const Blocks &blocks, const std::vector<uint32_t> &sizes)
{
    return CodecTest::Decode(CodecTest::Method::Lzx, windowBits, blocks, sizes);
}

// Decodes a one-frame stream and expects exactly `expected`.
::testing::AssertionResult DecodesTo(unsigned windowBits, CLzxWriter &lzx, const CExpected &expected)
{
    const Blocks blocks = lzx.Finish();
    const Decoded result = DecodeLzx(windowBits, blocks, CodecTest::FrameSizes(expected.Size()));
    if (result.Status != Status::Ok) {
        return ::testing::AssertionFailure() << "block " << result.FailedBlock << " failed";
    }
    if (result.Output != expected.Bytes()) {
        return ::testing::AssertionFailure() << "output differs";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult FailsWithBadData(unsigned windowBits, CLzxWriter &lzx, uint32_t size)
{
    const Blocks blocks = lzx.Finish();
    const Decoded result = DecodeLzx(windowBits, blocks, CodecTest::FrameSizes(size));
    if (result.Status != Status::BadData) {
        return ::testing::AssertionFailure() << "status " << static_cast<int>(result.Status);
    }
    return ::testing::AssertionSuccess();
}

// Lengths 1, 2, ..., 15 for the symbols from `first` on, then 16 for the
// `last` two symbols: a complete code that reaches 16 bits.
CodeLengths ChainTo16Bits(size_t size, unsigned first, unsigned last1, unsigned last2)
{
    CodeLengths lengths(size, 0);
    for (unsigned i = 0; i < 15; ++i) {
        lengths[first + i] = static_cast<uint8_t>(i + 1);
    }
    lengths[last1] = 16;
    lengths[last2] = 16;
    return lengths;
}

TEST(LzxStream, VerbatimBlockLiteralsAndMatches)
{
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    lzx.VerbatimOps(Join(Lits("abcdefgh"), {Copy(6, 3), Copy(3, 1), Copy(20, 9), Copy(2, 17)}));
    EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals("abcdefgh").Copy(3, 6).Copy(1, 3).Copy(9, 20).Copy(17, 2)));
}

TEST(LzxStream, MatchLengthsThroughTheLengthTree)
{
    // Headers 0-6 give lengths 2-8; header 7 adds a length-tree symbol
    // (9 + 0 .. 9 + 248).
    for (uint32_t length : {8u, 9u, 10u, 100u, 256u, 257u}) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        lzx.VerbatimOps(Join(Lits("xyz"), {Copy(length, 3)}));
        EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals("xyz").Copy(3, length))) << "length " << length;
    }
}

TEST(LzxStream, OffsetsOfEverySlotInVerbatimAndAlignedBlocks)
{
    // Offsets at both ends of each slot of a 2^17 window, so every extra
    // bit count (0-15) appears; aligned blocks split them into verbatim and
    // aligned bits from 3 extra bits upward.
    std::vector<uint8_t> history(70000);
    for (size_t i = 0; i < history.size(); ++i) {
        history[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    }
    std::vector<uint32_t> offsets;
    for (unsigned slot = 3; slot < 34; ++slot) {
        uint32_t base = 0;
        for (unsigned s = 0; s < slot; ++s) {
            base += 1u << (s < 4 ? 0 : s / 2 - 1);
        }
        const uint32_t extraBits = slot < 4 ? 0 : slot / 2 - 1;
        offsets.push_back(base - 2);                         // first offset of the slot
        offsets.push_back(base - 2 + (1u << extraBits) - 1); // last offset of the slot
    }
    for (bool aligned : {false, true}) {
        CLzxWriter lzx(17);
        lzx.StreamHeader(0);
        lzx.UncompressedBlock(static_cast<uint32_t>(history.size()));
        std::vector<uint8_t> first(history.begin(), history.begin() + 32768);
        lzx.RawBytes(first);
        lzx.EndFrame();
        lzx.RawBytes(std::vector<uint8_t>(history.begin() + 32768, history.begin() + 65536));
        lzx.EndFrame();
        lzx.RawBytes(std::vector<uint8_t>(history.begin() + 65536, history.end()));
        CExpected expected;
        expected.Literals(history);
        std::vector<LzxOp> ops;
        for (uint32_t offset : offsets) {
            if (offset == 0 || offset > expected.Size()) {
                continue;
            }
            ops.push_back(Copy(5, offset));
            expected.Copy(offset, 5);
        }
        uint32_t size = 0;
        for (const LzxOp &op : ops) {
            size += op.Value;
        }
        if (aligned) {
            lzx.AlignedBlock(size, {3, 3, 3, 3, 3, 3, 3, 3}, lzx.MainTreeFor(ops), lzx.LengthTreeFor(ops));
        } else {
            lzx.VerbatimBlock(size, lzx.MainTreeFor(ops), lzx.LengthTreeFor(ops));
        }
        lzx.Write(ops);
        EXPECT_TRUE(DecodesTo(17, lzx, expected)) << (aligned ? "aligned" : "verbatim");
    }
}

TEST(LzxStream, AlignedOffsetWithThreeExtraBits)
{
    // Slots 8 and 9 have exactly 3 extra bits: an aligned block sends them
    // as one aligned symbol and no verbatim bits. A skewed aligned tree makes
    // a decoder that also reads 0 verbatim bits wrongly see a different code.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    const std::vector<LzxOp> lits = Lits("0123456789abcdefghijklmnopqrstuvwxyz");
    std::vector<LzxOp> ops = {Copy(4, 14), Copy(4, 21), Copy(4, 22), Copy(4, 29)};
    lzx.VerbatimOps(lits);
    lzx.AlignedBlock(16, {1, 2, 3, 4, 5, 6, 7, 7}, lzx.MainTreeFor(ops), lzx.LengthTreeFor(ops));
    lzx.Write(ops);
    CExpected expected;
    expected.Literals("0123456789abcdefghijklmnopqrstuvwxyz").Copy(14, 4).Copy(21, 4).Copy(22, 4).Copy(29, 4);
    EXPECT_TRUE(DecodesTo(15, lzx, expected));
}

TEST(LzxStream, AlignedBlockFirstInTheStream)
{
    CLzxWriter lzx(18);
    lzx.StreamHeader(0);
    const std::vector<LzxOp> ops = Join(Lits("aligned!"), {Copy(40, 8), Copy(3, 1)});
    lzx.AlignedBlock(51, {3, 3, 3, 3, 3, 3, 3, 3}, lzx.MainTreeFor(ops), lzx.LengthTreeFor(ops));
    lzx.Write(ops);
    EXPECT_TRUE(DecodesTo(18, lzx, CExpected().Literals("aligned!").Copy(8, 40).Copy(1, 3)));
}

TEST(LzxStream, RepeatedOffsetsSwapWithR0)
{
    // New offsets push R0 -> R1 -> R2; repeating R1 or R2 swaps it with R0.
    // A fresh literal after every match keeps the offsets apart in the output.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    lzx.VerbatimOps(Join(Lits("ABCDEFGHIJ"), {
                                                 Copy(3, 3), Lit('k'), // R = 3, 1, 1
                                                 Copy(4, 5), Lit('l'), // R = 5, 3, 1
                                                 Copy(5, 7), Lit('m'), // R = 7, 5, 3
                                                 Rep(3, 2), Lit('n'),  // offset 3; R = 3, 5, 7
                                                 Rep(4, 1), Lit('o'),  // offset 5; R = 5, 3, 7
                                                 Rep(6, 0), Lit('p'),  // offset 5; unchanged
                                                 Rep(2, 2), Lit('q'),  // offset 7; R = 7, 3, 5
                                                 Rep(3, 1), Lit('r'),  // offset 3; R = 3, 7, 5
                                                 Rep(3, 2), Lit('s'),  // offset 5; R = 5, 7, 3
                                             }));
    CExpected expected;
    expected.Literals("ABCDEFGHIJ").Copy(3, 3).Literals("k").Copy(5, 4).Literals("l").Copy(7, 5).Literals("m");
    expected.Copy(3, 3).Literals("n").Copy(5, 4).Literals("o").Copy(5, 6).Literals("p").Copy(7, 2).Literals("q");
    expected.Copy(3, 3).Literals("r").Copy(5, 3).Literals("s");
    EXPECT_TRUE(DecodesTo(15, lzx, expected));
}

TEST(LzxStream, RepeatedOffsetsStartAtOne)
{
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    lzx.VerbatimOps({Lit('z'), Rep(5, 0), Rep(2, 1), Rep(2, 2)});
    EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals("z").Copy(1, 5).Copy(1, 2).Copy(1, 2)));
}

TEST(LzxStream, UncompressedBlockSetsRepeatedOffsets)
{
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    lzx.UncompressedBlock(12, 4, 6, 12);
    lzx.RawBytes(Bytes("0123456789AB"));
    lzx.VerbatimOps({Rep(3, 0), Rep(3, 1), Rep(3, 2)});
    EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals("0123456789AB").Copy(4, 3).Copy(6, 3).Copy(12, 3)));
}

TEST(LzxStream, UncompressedBlockOddLengthPadByte)
{
    // An odd raw length is followed by one pad byte before the next header.
    for (uint32_t length : {1u, 2u, 7u, 8u}) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        const std::vector<uint8_t> raw = RandomBytes(length, length);
        lzx.UncompressedBlock(length);
        lzx.RawBytes(raw);
        if (length % 2) {
            lzx.PadByte();
        }
        lzx.VerbatimOps(Lits("after"));
        EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals(raw).Literals("after"))) << "length " << length;
    }
}

TEST(LzxStream, UncompressedBlockAfterEveryBitAlignment)
{
    // The header is padded to the next 16-bit boundary, or by a whole word
    // when it already ends on one. 1-bit literal codes put the header at
    // each of the 16 bit positions in turn.
    for (unsigned count = 1; count <= 16; ++count) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        lzx.VerbatimBlock(count, lzx.UniformMain({'a', 'b'}), lzx.UniformLength({}));
        std::string text;
        for (unsigned i = 0; i < count; ++i) {
            text += static_cast<char>('a' + i % 2);
        }
        lzx.Write(Lits(text));
        lzx.UncompressedBlock(4);
        lzx.RawBytes(Bytes("RAW!"));
        EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals(text).Literals("RAW!"))) << count << " literals";
    }
}

TEST(LzxStream, TreesAreDeltasOfThePreviousBlock)
{
    // The second block sends its lengths as changes against the first one's;
    // runs (codes 17, 18, 19) and single deltas must both decode.
    for (bool useRuns : {true, false}) {
        CLzxWriter lzx(16);
        lzx.StreamHeader(0);
        const std::vector<LzxOp> first = Join(Lits("the quick brown fox "), {Copy(20, 20)});
        lzx.VerbatimOps(first);
        const std::vector<LzxOp> second = Join(Lits("jumps over the lazy dog"), {Copy(12, 23), Copy(30, 7)});
        const CodeLengths main = lzx.MainTreeFor(second);
        const CodeLengths length = CLzxWriter::LengthTreeFor(second);
        lzx.BlockHeader(1, 65);
        lzx.TreePart(lzx.PreviousMain(), main, 0, 256, useRuns);
        lzx.TreePart(lzx.PreviousMain(), main, 256, lzx.MainSymbols(), useRuns);
        lzx.TreePart(lzx.PreviousLength(), length, 0, CLzxWriter::LENGTH_SYMBOLS, useRuns);
        lzx.UseTrees(main, length);
        lzx.Write(second);
        CExpected expected;
        expected.Literals("the quick brown fox ")
            .Copy(20, 20)
            .Literals("jumps over the lazy dog")
            .Copy(23, 12)
            .Copy(7, 30);
        EXPECT_TRUE(DecodesTo(16, lzx, expected)) << (useRuns ? "runs" : "single deltas");
    }
}

TEST(LzxStream, SixteenBitMainCodesAndFifteenBitPreTreeCodes)
{
    // Main lengths 1, 2, ..., 15, 16, 16 form a complete code reaching the
    // longest length allowed. The pre-tree (4-bit lengths, so at most 15)
    // carries the deltas 17 - L of those lengths and 0 for the rest:
    // symbol 0 at 1 bit, 1-12 at 2-13 bits and 13-16 at 15 bits.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    const CodeLengths main = ChainTo16Bits(lzx.MainSymbols(), 'A', 'A' + 15, 'A' + 16);
    CodeLengths preTree(20, 0);
    preTree[0] = 1;
    for (unsigned sym = 1; sym <= 12; ++sym) {
        preTree[sym] = static_cast<uint8_t>(sym + 1);
    }
    for (unsigned sym = 13; sym <= 16; ++sym) {
        preTree[sym] = 15;
    }
    const CodeLengths noLengths(CLzxWriter::LENGTH_SYMBOLS, 0);
    // Runs of the 16- and 15-bit codes leave the bit buffer at every fill
    // level, so a refill that comes a code too late shows.
    std::string text = "QPAOBNCMDLEKFJGIHQP";
    for (int i = 0; i < 64; ++i) {
        text += i % 3 ? "QPO" : "PPQQ";
    }
    lzx.BlockHeader(1, static_cast<uint32_t>(text.size()));
    lzx.TreePart(lzx.PreviousMain(), main, 0, 256, false, &preTree);
    lzx.TreePart(lzx.PreviousMain(), main, 256, lzx.MainSymbols(), false, &preTree);
    lzx.TreePart(lzx.PreviousLength(), noLengths, 0, CLzxWriter::LENGTH_SYMBOLS, false, &preTree);
    lzx.UseTrees(main, noLengths);
    lzx.Write(Lits(text));
    EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals(text)));
}

TEST(LzxStream, LongCodesBackToBack)
{
    // A 16-bit literal, a 16-bit match symbol and a 16-bit length symbol in
    // a row, over and over: 48 bits between the offset refills.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    const CodeLengths main = ChainTo16Bits(lzx.MainSymbols(), 'a', 'A', MainMatch(0, 7));
    const CodeLengths length = ChainTo16Bits(CLzxWriter::LENGTH_SYMBOLS, 0, 15, 16);
    std::vector<LzxOp> ops;
    CExpected expected;
    for (uint32_t i = 0; i < 40; ++i) {
        ops.push_back(Lit('A'));
        ops.push_back(Rep(9 + 15 + i % 2, 0));
        expected.Literals("A").Copy(1, 9 + 15 + i % 2);
    }
    lzx.VerbatimBlock(static_cast<uint32_t>(expected.Size()), main, length);
    lzx.Write(ops);
    EXPECT_TRUE(DecodesTo(15, lzx, expected));
}

TEST(LzxStream, LongCodesAndSeventeenExtraBitsBackToBack)
{
    // 16-bit main and length codes, 14 verbatim bits and a 7-bit aligned
    // code per match (slot 36 of a 2^19 window has 17 extra bits): 53 bits,
    // more than one refill holds. History: nine frames of raw bytes.
    const std::vector<uint8_t> history = RandomBytes(9 * 32768, 19);
    CLzxWriter lzx(19);
    lzx.StreamHeader(0);
    lzx.UncompressedBlock(static_cast<uint32_t>(history.size()));
    for (size_t frame = 0; frame < 9; ++frame) {
        lzx.RawBytes(std::vector<uint8_t>(history.begin() + static_cast<long>(frame * 32768),
                                          history.begin() + static_cast<long>((frame + 1) * 32768)));
        lzx.EndFrame();
    }
    const CodeLengths main = ChainTo16Bits(lzx.MainSymbols(), 'a', 'A', MainMatch(36, 7));
    const CodeLengths length = ChainTo16Bits(CLzxWriter::LENGTH_SYMBOLS, 0, 15, 16);
    std::vector<LzxOp> ops;
    CExpected expected;
    expected.Literals(history);
    for (uint32_t i = 0; i < 300; ++i) {
        // Aligned symbols 7 and 6 (7-bit codes); one or two literals in
        // between shift the bit position from match to match.
        const uint32_t offset = 262142 + 8 * (i * 13 % 3900 + 3) + 7 - i % 2;
        ops.push_back(Lit('A'));
        expected.Literals("A");
        if (i % 3 == 0) {
            ops.push_back(Lit('a'));
            expected.Literals("a");
        }
        ops.push_back(Copy(9 + 15 + i % 2, offset));
        expected.Copy(offset, 9 + 15 + i % 2);
    }
    lzx.AlignedBlock(static_cast<uint32_t>(expected.Size() - history.size()), {1, 2, 3, 4, 5, 6, 7, 7}, main, length);
    lzx.Write(ops);
    const Decoded result = DecodeLzx(19, lzx.Finish(), CodecTest::FrameSizes(expected.Size()));
    ASSERT_EQ(result.Status, Status::Ok);
    EXPECT_TRUE(result.Output == expected.Bytes());
}

TEST(LzxStream, EmptyLengthTreeWithoutLongMatches)
{
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    lzx.VerbatimOps(Join(Lits("abcd"), {Copy(8, 4)}));
    EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals("abcd").Copy(4, 8)));
}

TEST(LzxStream, LongMatchWithEmptyLengthTreeIsBad)
{
    // Block 1 has a length tree; block 2 sends an empty one and still codes
    // a long match with block 1's length code. Decoding it with the old
    // table would succeed; the empty tree must make it fail.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    const std::vector<LzxOp> ops = Join(Lits("abcd"), {Copy(9, 4)});
    lzx.VerbatimOps(ops);
    const CodeLengths main = lzx.MainTreeFor(ops);
    const CodeLengths length = CLzxWriter::LengthTreeFor(ops);
    lzx.VerbatimBlock(9, main, CLzxWriter::UniformLength({}));
    lzx.UseTrees(main, length);
    lzx.Write({Copy(9, 4)});
    EXPECT_TRUE(FailsWithBadData(15, lzx, 22));
}

struct BadTreeCase {
    const char *Name;
    std::vector<unsigned> MainLengths; // pairs: symbol, length
};

TEST(LzxStream, MainTreesThatAreNotCompleteCodesAreBad)
{
    const BadTreeCase cases[] = {
        {"empty", {}},
        {"one code", {'a', 1}},
        {"over-subscribed", {'a', 1, 'b', 1, 'c', 1}},
        {"incomplete", {'a', 1, 'b', 2}},
        {"over-subscribed at 16 bits",
         {'a', 1,  'b', 2,  'c', 3,  'd', 4,  'e', 5,  'f', 6,  'g', 7,  'h', 8,  'i', 9,
          'j', 10, 'k', 11, 'l', 12, 'm', 13, 'n', 14, 'o', 15, 'p', 16, 'q', 16, 'r', 16}},
    };
    for (const BadTreeCase &c : cases) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        CodeLengths main(lzx.MainSymbols(), 0);
        for (size_t i = 0; i + 1 < c.MainLengths.size(); i += 2) {
            main[c.MainLengths[i]] = static_cast<uint8_t>(c.MainLengths[i + 1]);
        }
        lzx.BlockHeader(1, 4);
        lzx.TreePart(lzx.PreviousMain(), main, 0, 256);
        lzx.TreePart(lzx.PreviousMain(), main, 256, lzx.MainSymbols());
        lzx.TreePart(lzx.PreviousLength(), CodeLengths(CLzxWriter::LENGTH_SYMBOLS, 0), 0, CLzxWriter::LENGTH_SYMBOLS);
        lzx.Bits().Put(0, 32);
        EXPECT_TRUE(FailsWithBadData(15, lzx, 4)) << c.Name;
    }
}

TEST(LzxStream, BadPreTreesAndLengthTreesAreBad)
{
    CodeLengths overSubscribed(20, 1);
    CodeLengths incomplete(20, 0);
    incomplete[0] = 1;
    CodeLengths empty(20, 0);
    for (const CodeLengths &pre : {overSubscribed, incomplete, empty}) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        lzx.BlockHeader(1, 4);
        for (uint8_t len : pre) {
            lzx.Bits().Put(len, 4);
        }
        lzx.Bits().Put(0, 32);
        EXPECT_TRUE(FailsWithBadData(15, lzx, 4));
    }
    // A length tree that is neither empty nor complete.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    CodeLengths length(CLzxWriter::LENGTH_SYMBOLS, 0);
    length[3] = 1;
    const std::vector<LzxOp> ops = Lits("ab");
    lzx.VerbatimBlock(2, lzx.MainTreeFor(ops), length);
    lzx.Write(ops);
    EXPECT_TRUE(FailsWithBadData(15, lzx, 2));
}

TEST(LzxStream, AlignedTreeMustBeComplete)
{
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    const std::vector<LzxOp> ops = Lits("ab");
    lzx.AlignedBlock(2, {1, 1, 1, 0, 0, 0, 0, 0}, lzx.MainTreeFor(ops), lzx.LengthTreeFor(ops));
    EXPECT_TRUE(FailsWithBadData(15, lzx, 2));
}

TEST(LzxStream, LengthRunsMayNotSpillPastTheirPart)
{
    // Pre-tree 0 -> "0", 18 -> "1"; code 18 with extra 31 is 51 zeros. Five
    // runs and one delta end the 256 literals exactly; six runs (306
    // lengths) would spill into the match symbols. The rest of the stream is
    // valid either way: one byte of history, then a block of two repeats.
    CodeLengths pre(20, 0);
    pre[0] = 1;
    pre[18] = 1;
    for (unsigned runs : {5u, 6u}) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        lzx.UncompressedBlock(1);
        lzx.RawBytes({'x'});
        lzx.PadByte();
        lzx.BlockHeader(1, 5);
        for (uint8_t len : pre) {
            lzx.Bits().Put(len, 4);
        }
        for (unsigned i = 0; i < runs; ++i) {
            lzx.Bits().Put(1, 1);
            lzx.Bits().Put(31, 5);
        }
        if (runs == 5) {
            lzx.Bits().Put(0, 1);
        }
        CodeLengths main(lzx.MainSymbols(), 0);
        main[MainMatch(0, 0)] = 1;
        main[MainMatch(0, 1)] = 1;
        lzx.TreePart(lzx.PreviousMain(), main, 256, lzx.MainSymbols());
        lzx.TreePart(lzx.PreviousLength(), CodeLengths(CLzxWriter::LENGTH_SYMBOLS, 0), 0, CLzxWriter::LENGTH_SYMBOLS);
        lzx.UseTrees(main, CodeLengths(CLzxWriter::LENGTH_SYMBOLS, 0));
        lzx.Write({Rep(2, 0), Rep(3, 0)});
        if (runs == 5) {
            EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals("xxxxxx")));
        } else {
            EXPECT_TRUE(FailsWithBadData(15, lzx, 6));
        }
    }
}

TEST(LzxStream, BlockTypesOutsideOneToThreeAreBad)
{
    for (unsigned type : {0u, 4u, 5u, 6u, 7u}) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        lzx.BlockHeader(type, 100);
        lzx.Bits().Put(0, 32);
        EXPECT_TRUE(FailsWithBadData(15, lzx, 100)) << "type " << type;
    }
}

TEST(LzxStream, MatchBeforeTheFolderStartIsBad)
{
    // Offset 3 after three literals reaches the first byte: fine. Offset 4
    // would reach before it.
    for (uint32_t offset : {3u, 4u}) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        lzx.VerbatimOps(Join(Lits("abc"), {Copy(3, offset)}));
        if (offset == 3) {
            EXPECT_TRUE(DecodesTo(15, lzx, CExpected().Literals("abc").Copy(3, 3)));
        } else {
            EXPECT_TRUE(FailsWithBadData(15, lzx, 6));
        }
    }
}

TEST(LzxStream, RepeatedOffsetOfZeroOrBeyondTheOutputIsBad)
{
    for (uint32_t r0 : {0u, 5u, 0x80000000u}) {
        CLzxWriter lzx(15);
        lzx.StreamHeader(0);
        lzx.UncompressedBlock(4, r0, 1, 1);
        lzx.RawBytes(Bytes("wxyz"));
        lzx.VerbatimOps({Rep(3, 0)});
        EXPECT_TRUE(FailsWithBadData(15, lzx, 7)) << "R0 " << r0;
    }
}

TEST(LzxStream, MatchCrossingTheBlockEndIsBad)
{
    // The block declares 10 bytes; the match would write bytes 9-11.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    const std::vector<LzxOp> ops = Join(Lits("abcdefgh"), {Copy(4, 2)});
    lzx.VerbatimBlock(10, lzx.MainTreeFor(ops), lzx.LengthTreeFor(ops));
    lzx.Write(ops);
    lzx.VerbatimOps(Lits("zz"));
    EXPECT_TRUE(FailsWithBadData(15, lzx, 12));
}

TEST(LzxStream, FrameWithTooFewBitsIsBad)
{
    // The frame's bits run out before its output is complete: the block is
    // cut short, or the caller asks for more output than the stream holds.
    CLzxWriter lzx(15);
    lzx.StreamHeader(0);
    lzx.VerbatimOps(Join(Lits("some text to decode"), {Copy(100, 5)}));
    const Blocks blocks = lzx.Finish();
    ASSERT_EQ(DecodeLzx(15, blocks, {119}).Status, Status::Ok);
    EXPECT_EQ(DecodeLzx(15, blocks, {120}).Status, Status::BadData);
    Blocks halved = blocks;
    halved[0].resize(blocks[0].size() / 2);
    EXPECT_EQ(DecodeLzx(15, halved, {119}).Status, Status::BadData);
}

TEST(LzxStream, WindowSizesOutsideFifteenToTwentyOneAreRefused)
{
    Fdi::Status status = Status::Ok;
    for (unsigned bits : {0u, 14u, 22u, 31u}) {
        EXPECT_EQ(Fdi::CreateLzx(CodecTest::TestAllocator(), bits, &status), nullptr);
        EXPECT_EQ(status, Status::BadCompression) << bits;
    }
    for (unsigned bits = 15; bits <= 21; ++bits) {
        Fdi::CCodec *codec = Fdi::CreateLzx(CodecTest::TestAllocator(), bits, &status);
        ASSERT_NE(codec, nullptr);
        EXPECT_EQ(status, Status::Ok);
        CodecTest::TestAllocator().Delete(codec);
    }
    EXPECT_EQ(CodecTest::g_LiveAllocations, 0);
}

TEST(LzxStream, AllocationFailureIsReportedAndLeaksNothing)
{
    // Fail the first, then the second allocation of a codec.
    static int s_AllowedAllocations;
    static int s_Live;
    const Fdi::Allocator failing{[](uint32_t size) -> void * {
                                     if (s_AllowedAllocations-- <= 0) {
                                         return nullptr;
                                     }
                                     ++s_Live;
                                     return std::malloc(size);
                                 },
                                 [](void *block) {
                                     --s_Live;
                                     std::free(block);
                                 }};
    for (int allowed : {0, 1}) {
        for (bool lzx : {true, false}) {
            s_AllowedAllocations = allowed;
            s_Live = 0;
            Fdi::Status status = Status::Ok;
            Fdi::CCodec *codec =
                lzx ? Fdi::CreateLzx(failing, 16, &status) : Fdi::CreateQuantum(failing, 1, 16, &status);
            EXPECT_EQ(codec, nullptr);
            EXPECT_EQ(status, Status::NoMemory);
            EXPECT_EQ(s_Live, 0);
        }
    }
}

} // namespace
