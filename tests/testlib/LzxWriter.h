// Builds LZX streams for tests: stream header, blocks, trees, symbols and
// frames (one frame per CFDATA block).
//
//   CLzxWriter lzx(15);                          // 2^15 window, 30 slots
//   lzx.StreamHeader(0);                         // no E8 translation
//   lzx.VerbatimBlock(10, lzx.UniformMain({'a', 'b', MainMatch(3, 0)}), {});
//   lzx.Literal('a'); lzx.Literal('b');
//   lzx.Match(8, 2);                             // 8 bytes from 2 back
//   std::vector<std::vector<uint8_t>> blocks = lzx.Finish();
//
// The writer keeps the previous block's tree lengths, so trees are sent as
// the deltas a real encoder sends, through pre-trees built from the symbol
// counts. It checks nothing about the stream's meaning: tests build bad
// streams with the same calls (or with Bits()).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/testlib/BitWriter.h"

namespace TestLib {

using CodeLengths = std::vector<uint8_t>;

// Plain LZ77 expansion for the expected output of hand-built LZX and
// Quantum streams: literals and (offset, length) copies, byte by byte.
class CLzExpected {
public:
    CLzExpected &Literals(const std::vector<uint8_t> &bytes)
    {
        m_Bytes.insert(m_Bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    CLzExpected &Literals(const std::string &text) { return Literals(std::vector<uint8_t>(text.begin(), text.end())); }
    CLzExpected &Copy(size_t offset, size_t length)
    {
        for (size_t i = 0; i < length; ++i) {
            m_Bytes.push_back(m_Bytes[m_Bytes.size() - offset]);
        }
        return *this;
    }
    const std::vector<uint8_t> &Bytes() const { return m_Bytes; }
    size_t Size() const { return m_Bytes.size(); }

private:
    std::vector<uint8_t> m_Bytes;
};

// The frame (CFDATA output) sizes of `total` bytes: 32768 each, the last
// shorter.
inline std::vector<uint32_t> LzFrameSizes(size_t total)
{
    std::vector<uint32_t> sizes;
    for (size_t done = 0; done < total; done += 32768) {
        sizes.push_back(static_cast<uint32_t>(total - done < 32768 ? total - done : 32768));
    }
    return sizes;
}

// Main-tree symbol of a match: slot and length header (0..7).
unsigned MainMatch(unsigned slot, unsigned lengthHeader);
// Huffman code lengths for symbol counts (0 = no code), none longer than
// maxLength (counts are flattened until they fit); spare symbols get a
// count of 1 so that at least two have codes and the code is complete.
CodeLengths HuffmanLengths(std::vector<uint64_t> counts, unsigned maxLength);
// Lengths of a complete code over `symbols` (two or more), as even as
// possible, in a tree of `size` symbols.
CodeLengths CompleteLengths(const std::vector<unsigned> &symbols, size_t size);
// Canonical codes of a set of lengths (0 = no code).
std::vector<uint32_t> CanonicalCodes(const CodeLengths &lengths);

struct LzxOffset {
    unsigned Slot;
    uint32_t Extra;
    unsigned ExtraBits;
};
// Slot and extra bits of a match offset of 1 or more (not a repeat).
LzxOffset LzxOffsetSlot(uint32_t offset);

// One step of a hand-written stream: a literal, a match with a new offset
// or a match repeating R0, R1 or R2.
struct LzxOp {
    enum Kind {
        Literal,
        Match,
        Repeat
    } What;
    uint32_t Value;  // the byte, or the match length
    uint32_t Offset; // Match: the offset; Repeat: 0, 1 or 2
};
inline LzxOp Lit(uint8_t byte)
{
    return {LzxOp::Literal, byte, 0};
}
inline LzxOp Copy(uint32_t length, uint32_t offset)
{
    return {LzxOp::Match, length, offset};
}
inline LzxOp Rep(uint32_t length, unsigned which)
{
    return {LzxOp::Repeat, length, which};
}
std::vector<LzxOp> Lits(const std::string &text);
inline std::vector<LzxOp> Join(std::vector<LzxOp> a, const std::vector<LzxOp> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class CLzxWriter {
public:
    static constexpr uint32_t FRAME = 32768;
    static constexpr size_t LENGTH_SYMBOLS = 249;

    explicit CLzxWriter(unsigned windowBits);
    size_t MainSymbols() const { return m_MainSymbols; }
    // A main tree over the literals and match symbols listed, and a length
    // tree over the length symbols listed (empty list: empty tree).
    CodeLengths UniformMain(const std::vector<unsigned> &symbols) const;
    static CodeLengths UniformLength(const std::vector<unsigned> &symbols);

    // Complete trees over exactly the symbols some ops use (padded with a
    // spare symbol where only one is used), and the ops themselves.
    CodeLengths MainTreeFor(const std::vector<LzxOp> &ops) const;
    static CodeLengths LengthTreeFor(const std::vector<LzxOp> &ops);
    void Write(const std::vector<LzxOp> &ops);
    // A verbatim block holding exactly the ops, with trees made for them.
    void VerbatimOps(const std::vector<LzxOp> &ops);

    // Stream header: translation size 0 writes the single 0 bit.
    void StreamHeader(uint32_t e8Size);
    // Block header only: 3-bit type and 24-bit size (any type, for bad cases).
    void BlockHeader(unsigned type, uint32_t size);
    // Pre-tree coded lengths for tree[first..last), against the previous
    // block's lengths. useRuns = false sends only single deltas; preTree,
    // when given, replaces the pre-tree built from the symbol counts.
    void TreePart(CodeLengths &previous, const CodeLengths &lengths, size_t first, size_t last, bool useRuns = true,
                  const CodeLengths *preTree = nullptr);
    // The trees' previous lengths (what the next block's deltas start from).
    CodeLengths &PreviousMain() { return m_PrevMain; }
    CodeLengths &PreviousLength() { return m_PrevLength; }
    // Makes Literal and Match use these trees without sending them.
    void UseTrees(const CodeLengths &main, const CodeLengths &length);
    // Header + trees of a verbatim or aligned block; sets the codes used by
    // Literal and Match.
    void VerbatimBlock(uint32_t size, const CodeLengths &main, const CodeLengths &length);
    void AlignedBlock(uint32_t size, const std::array<uint8_t, 8> &aligned, const CodeLengths &main,
                      const CodeLengths &length);
    // Header, realignment and stored R0-R2 of an uncompressed block; the
    // caller adds the bytes with RawBytes and, for an odd size, PadByte.
    void UncompressedBlock(uint32_t size, uint32_t r0 = 1, uint32_t r1 = 1, uint32_t r2 = 1);
    void RawBytes(const std::vector<uint8_t> &bytes);
    void PadByte(uint8_t value = 0) { RawBytes({value}); }

    void Literal(uint8_t byte);
    void Literals(const std::vector<uint8_t> &bytes);
    // A match with a new offset (slot 3 and up) of `length` (2..257) bytes.
    void Match(uint32_t length, uint32_t offset);
    // A match repeating R0, R1 or R2 (slot 0, 1, 2).
    void Repeat(uint32_t length, unsigned which);
    // A match symbol with explicit slot and extra-bit value.
    void MatchSlot(uint32_t length, unsigned slot, uint32_t extra);

    // Ends the current frame: pads to 16 bits and starts the next block.
    void EndFrame();
    // Ends the last frame and returns all CFDATA payloads.
    std::vector<std::vector<uint8_t>> Finish();
    CLzxBitWriter &Bits() { return m_Bits; }

private:
    void PutCode(const std::vector<uint32_t> &codes, const CodeLengths &lengths, unsigned symbol);
    void SetTrees(const CodeLengths &main, const CodeLengths &length);

    size_t m_MainSymbols;
    bool m_AlignedBlock = false;
    CodeLengths m_PrevMain, m_PrevLength;
    CodeLengths m_Main, m_Length, m_Aligned;
    std::vector<uint32_t> m_MainCodes, m_LengthCodes, m_AlignedCodes;
    CLzxBitWriter m_Bits;
    std::vector<std::vector<uint8_t>> m_Frames;
};

} // namespace TestLib
