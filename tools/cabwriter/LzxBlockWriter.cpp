// Writes parsed LZX blocks.
//
// Format notes for the writer:
// - Block header: 3-bit type, then the block's output size in 24 bits.
//   Verbatim and aligned-offset blocks then send their trees (an aligned
//   block first its 8 aligned-offset lengths in 3 bits each), uncompressed
//   blocks move to the next 16-bit boundary (a whole word when already on
//   one) and send R0-R2 as 32-bit little-endian values, the raw bytes, and a
//   zero pad byte after an odd size.
// - Trees are sent in three parts: literals, match symbols, lengths. Each
//   part has its own 20-symbol pre-tree (4-bit lengths) followed by one
//   operation per length or run: symbols 0-16 change the previous block's
//   length by -symbol mod 17, 17 and 18 set runs of 4-19 and 20-51 zeros,
//   19 sets 4-5 lengths to one value given as a change of the first one.
// - Decoders refuse incomplete codes, so every tree sent is complete. The
//   format lets a block without matches longer than 8 send an empty length
//   tree, a case each reader has to special-case; the writer sends two
//   unused codes instead, for a few bits, so that no reader depends on it.
// - Aligned-offset blocks send the low 3 extra bits of offsets with 3 or
//   more extra bits through the aligned tree; they pay when those bits are
//   skewed (code aligned to 8 bytes), and cost 24 bits of tree otherwise.
#include "tools/cabwriter/LzxBlockWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "tools/cabwriter/CabLayout.h"
#include "tools/cabwriter/HuffmanCode.h"
#include "tools/cabwriter/LzxBitWriter.h"

namespace Selfex {

namespace {

constexpr unsigned BLOCK_HEADER_BITS = 3 + 24;
constexpr unsigned PRETREE_ZEROS_SHORT = 17; // 4 + 4-bit count zeros
constexpr unsigned PRETREE_ZEROS_LONG = 18;  // 20 + 5-bit count zeros
constexpr unsigned PRETREE_SAME = 19;        // 4 + 1-bit count equal lengths
constexpr unsigned PRETREE_EXTRA_BITS[LZX_PRETREE_SYMBOLS] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                              0, 0, 0, 0, 0, 0, 0, 4, 5, 1};

struct PreOp {
    uint8_t Code;   // pre-tree symbol
    uint8_t Extra;  // its extra bits' value
    uint8_t Change; // after symbol 19: the change symbol
};

// Turns lengths[first, last) into pre-tree operations against previous:
// zero runs become 17/18, runs of another equal length 19, the rest
// single changes. Returns the operation count.
unsigned MakeTreeOps(const uint8_t *previous, const uint8_t *lengths, unsigned first, unsigned last, PreOp *ops)
{
    unsigned count = 0;
    for (unsigned x = first; x < last;) {
        const uint8_t value = lengths[x];
        unsigned run = 1;
        while (x + run < last && lengths[x + run] == value && run < (value == 0 ? 51u : 5u)) {
            ++run;
        }
        const uint8_t change = static_cast<uint8_t>((previous[x] + 17 - value) % 17);
        if (value == 0 && run >= 20) {
            ops[count++] = {PRETREE_ZEROS_LONG, static_cast<uint8_t>(run - 20), 0};
        } else if (value == 0 && run >= 4) {
            run = std::min(run, 19u);
            ops[count++] = {PRETREE_ZEROS_SHORT, static_cast<uint8_t>(run - 4), 0};
        } else if (value != 0 && run >= 4) {
            ops[count++] = {PRETREE_SAME, static_cast<uint8_t>(run - 4), change};
        } else {
            run = 1;
            ops[count++] = {change, 0, 0};
        }
        x += run;
    }
    return count;
}

// One tree part ready to send: its operations and their pre-tree.
struct TreePart {
    PreOp Ops[LZX_MAIN_SYMBOLS_MAX];
    unsigned OpCount = 0;
    uint8_t PreLengths[LZX_PRETREE_SYMBOLS];
    uint16_t PreCodes[LZX_PRETREE_SYMBOLS];
    uint64_t Bits = 0; // what sending it costs

    void Prepare(const uint8_t *previous, const uint8_t *lengths, unsigned first, unsigned last)
    {
        OpCount = MakeTreeOps(previous, lengths, first, last, Ops);
        uint32_t counts[LZX_PRETREE_SYMBOLS] = {};
        for (unsigned i = 0; i < OpCount; ++i) {
            ++counts[Ops[i].Code];
            if (Ops[i].Code == PRETREE_SAME) {
                ++counts[Ops[i].Change];
            }
        }
        BuildCodeLengths(counts, LZX_PRETREE_SYMBOLS, LZX_MAX_PRETREE_LENGTH, PreLengths);
        BuildCanonicalCodes(PreLengths, LZX_PRETREE_SYMBOLS, PreCodes);
        Bits = 4 * LZX_PRETREE_SYMBOLS;
        for (unsigned sym = 0; sym < LZX_PRETREE_SYMBOLS; ++sym) {
            Bits += uint64_t{counts[sym]} * (PreLengths[sym] + PRETREE_EXTRA_BITS[sym]);
        }
    }

    void Write(CLzxBitWriter &bits) const
    {
        for (uint8_t len : PreLengths) {
            bits.Put(len, 4);
        }
        for (unsigned i = 0; i < OpCount; ++i) {
            const PreOp &op = Ops[i];
            bits.Put(PreCodes[op.Code], PreLengths[op.Code]);
            bits.Put(op.Extra, PRETREE_EXTRA_BITS[op.Code]);
            if (op.Code == PRETREE_SAME) {
                bits.Put(PreCodes[op.Change], PreLengths[op.Change]);
            }
        }
    }
};

uint32_t PayloadBytes(uint64_t bits)
{
    return static_cast<uint32_t>((bits + 15) / 16 * 2);
}

// Extra offset bits per main-tree symbol: 0 for literals.
struct MainExtraBits {
    uint8_t Bits[LZX_MAIN_SYMBOLS_MAX];
};
constexpr MainExtraBits MakeMainExtraBits()
{
    MainExtraBits table{};
    for (unsigned sym = LZX_LITERALS; sym < LZX_MAIN_SYMBOLS_MAX; ++sym) {
        table.Bits[sym] = static_cast<uint8_t>(LzxExtraBits((sym - LZX_LITERALS) >> 3));
    }
    return table;
}
constexpr MainExtraBits MAIN_EXTRA_BITS = MakeMainExtraBits();

} // namespace

void LzxCounts::Add(const LzxItem *items, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        ++Main[items[i].Main];
        if (items[i].Length) {
            ++Length[items[i].Length - 1];
        }
    }
}

void LzxCounts::Add(const LzxCounts &other)
{
    for (unsigned sym = 0; sym < LZX_MAIN_SYMBOLS_MAX; ++sym) {
        Main[sym] += other.Main[sym];
    }
    for (unsigned sym = 0; sym < LZX_LENGTH_SYMBOLS; ++sym) {
        Length[sym] += other.Length[sym];
    }
}

uint64_t EstimateBlockBits(const LzxCounts &counts, unsigned mainSymbols)
{
    // Trees: a header, three pre-trees, and some bits per length sent.
    constexpr uint64_t FIXED_BITS = BLOCK_HEADER_BITS + 3 * 4 * LZX_PRETREE_SYMBOLS;
    constexpr uint64_t BITS_PER_CODE = 3;
    uint8_t lengths[LZX_MAIN_SYMBOLS_MAX];
    uint64_t bits = FIXED_BITS;
    BuildCodeLengths(counts.Main, mainSymbols, LZX_MAX_CODE_LENGTH, lengths);
    for (unsigned sym = 0; sym < mainSymbols; ++sym) {
        bits += uint64_t{counts.Main[sym]} * lengths[sym] + (lengths[sym] ? BITS_PER_CODE : 0);
    }
    BuildCodeLengths(counts.Length, LZX_LENGTH_SYMBOLS, LZX_MAX_CODE_LENGTH, lengths);
    for (unsigned sym = 0; sym < LZX_LENGTH_SYMBOLS; ++sym) {
        bits += uint64_t{counts.Length[sym]} * lengths[sym] + (lengths[sym] ? BITS_PER_CODE : 0);
    }
    return bits;
}

// The trees of one compressed block, their codes and what sending them costs.
struct CLzxBlockWriter::Trees {
    uint8_t Main[LZX_MAIN_SYMBOLS_MAX];
    uint8_t Length[LZX_LENGTH_SYMBOLS];
    uint8_t Aligned[LZX_ALIGNED_SYMBOLS];
    uint16_t MainCodes[LZX_MAIN_SYMBOLS_MAX];
    uint16_t LengthCodes[LZX_LENGTH_SYMBOLS];
    uint16_t AlignedCodes[LZX_ALIGNED_SYMBOLS];
    TreePart Parts[3]; // literals, match symbols, lengths
    bool UseAligned = false;
};

CLzxBlockWriter::CLzxBlockWriter(unsigned mainSymbols) : m_MainSymbols(mainSymbols), m_Trees(std::make_unique<Trees>())
{
}

CLzxBlockWriter::~CLzxBlockWriter() = default;

void CLzxBlockWriter::StartFolder(int32_t e8Size)
{
    m_E8Size = e8Size;
    m_HeaderPending = true;
    std::memset(m_PrevMain, 0, sizeof m_PrevMain);
    std::memset(m_PrevLength, 0, sizeof m_PrevLength);
}

uint64_t CLzxBlockWriter::StreamHeaderBits() const
{
    if (!m_HeaderPending) {
        return 0;
    }
    return m_E8Size != 0 ? 33 : 1;
}

// The folder's first bits: whether the call filter is on, and its size.
void CLzxBlockWriter::WriteStreamHeader(CLzxBitWriter &bits)
{
    if (!m_HeaderPending) {
        return;
    }
    bits.Put(m_E8Size != 0, 1);
    if (m_E8Size != 0) {
        bits.Put(static_cast<uint32_t>(m_E8Size) >> 16, 16);
        bits.Put(static_cast<uint32_t>(m_E8Size) & 0xFFFF, 16);
    }
    m_HeaderPending = false;
}

void CLzxBlockWriter::Write(const LzxBlock &block, std::vector<uint8_t> &out, std::vector<uint32_t> &frameEnds)
{
    if (WriteCompressed(block, out, frameEnds)) {
        return;
    }
    // A frame would not fit: blocks of one frame each get trees of their own,
    // and a single frame that still does not fit goes out uncompressed.
    if (block.Frames == 1) {
        WriteUncompressed(block, out, frameEnds);
        return;
    }
    uint32_t rawOffset = 0;
    for (unsigned f = 0; f < block.Frames; ++f) {
        LzxBlock one = block;
        const uint32_t firstItem = f == 0 ? 0 : block.FrameItemEnds[f - 1];
        one.Items = block.Items + firstItem;
        uint32_t end = block.FrameItemEnds[f] - firstItem;
        one.FrameItemEnds = &end;
        one.FrameSizes = block.FrameSizes + f;
        one.FrameRepeats = block.FrameRepeats + 3 * f;
        one.Frames = 1;
        one.Raw = block.Raw + rawOffset;
        rawOffset += block.FrameSizes[f];
        if (!WriteCompressed(one, out, frameEnds)) {
            WriteUncompressed(one, out, frameEnds);
        }
    }
}

// Builds the block's trees into trees and says what each way of writing
// it costs.
CLzxBlockWriter::BlockCosts CLzxBlockWriter::PrepareTrees(const LzxBlock &block, Trees &trees) const
{
    // 1. Symbol counts and the trees they give.
    const uint32_t itemCount = block.FrameItemEnds[block.Frames - 1];
    LzxCounts counts;
    counts.Add(block.Items, itemCount);
    uint32_t alignedCounts[LZX_ALIGNED_SYMBOLS] = {};
    uint64_t symbolBits = 0;
    uint32_t alignedUses = 0;
    for (uint32_t i = 0; i < itemCount; ++i) {
        const unsigned extra = MAIN_EXTRA_BITS.Bits[block.Items[i].Main];
        symbolBits += extra;
        if (extra >= 3) {
            ++alignedCounts[block.Items[i].Extra & 7];
            ++alignedUses;
        }
    }
    BuildCodeLengths(counts.Main, m_MainSymbols, LZX_MAX_CODE_LENGTH, trees.Main);
    bool anyLength = false;
    for (uint32_t count : counts.Length) {
        anyLength |= count != 0;
    }
    if (!anyLength) {
        counts.Length[0] = 1; // a complete, unused length tree of two codes
    }
    BuildCodeLengths(counts.Length, LZX_LENGTH_SYMBOLS, LZX_MAX_CODE_LENGTH, trees.Length);
    if (!anyLength) {
        counts.Length[0] = 0;
    }
    BuildCodeLengths(alignedCounts, LZX_ALIGNED_SYMBOLS, LZX_MAX_ALIGNED_LENGTH, trees.Aligned);
    trees.Parts[0].Prepare(m_PrevMain, trees.Main, 0, LZX_LITERALS);
    trees.Parts[1].Prepare(m_PrevMain, trees.Main, LZX_LITERALS, m_MainSymbols);
    trees.Parts[2].Prepare(m_PrevLength, trees.Length, 0, LZX_LENGTH_SYMBOLS);

    // 2. Costs: verbatim, aligned (when any offset has aligned bits), raw.
    for (unsigned sym = 0; sym < m_MainSymbols; ++sym) {
        symbolBits += uint64_t{counts.Main[sym]} * trees.Main[sym];
    }
    for (unsigned sym = 0; sym < LZX_LENGTH_SYMBOLS; ++sym) {
        symbolBits += uint64_t{counts.Length[sym]} * trees.Length[sym];
    }
    // Aligned codes replace 3 verbatim bits each; the aligned tree costs 24.
    int64_t alignedSaving = 0;
    for (unsigned sym = 0; sym < LZX_ALIGNED_SYMBOLS; ++sym) {
        alignedSaving += int64_t{alignedCounts[sym]} * (3 - trees.Aligned[sym]);
    }
    trees.UseAligned = alignedUses > 0 && alignedSaving > 3 * LZX_ALIGNED_SYMBOLS;

    BlockCosts costs;
    costs.HeaderBits = StreamHeaderBits() + BLOCK_HEADER_BITS + trees.Parts[0].Bits + trees.Parts[1].Bits +
                       trees.Parts[2].Bits + (trees.UseAligned ? 3 * LZX_ALIGNED_SYMBOLS : 0);
    costs.CompressedBits =
        costs.HeaderBits + symbolBits - (trees.UseAligned ? static_cast<uint64_t>(alignedSaving) : 0);
    for (unsigned f = 0; f < block.Frames; ++f) {
        costs.Bytes += block.FrameSizes[f];
    }
    costs.RawBits = StreamHeaderBits() + BLOCK_HEADER_BITS + 16 + 96 + 8 * (uint64_t{costs.Bytes} + 1);
    return costs;
}

// Whether every frame of the block, under these trees, fits a CFDATA payload.
bool CLzxBlockWriter::FramesFit(const LzxBlock &block, const Trees &trees, uint64_t headerBits) const
{
    uint32_t item = 0;
    for (unsigned f = 0; f < block.Frames; ++f) {
        uint64_t bits = f == 0 ? headerBits : 0;
        for (; item < block.FrameItemEnds[f]; ++item) {
            const LzxItem &it = block.Items[item];
            const unsigned extra = MAIN_EXTRA_BITS.Bits[it.Main];
            bits += trees.Main[it.Main];
            bits += it.Length ? trees.Length[it.Length - 1] : 0u;
            bits += trees.UseAligned && extra >= 3 ? extra - 3 + trees.Aligned[it.Extra & 7] : extra;
        }
        if (PayloadBytes(bits) > CAB_MAX_PAYLOAD) {
            return false;
        }
    }
    return true;
}

// Writes the block verbatim or aligned, or as one uncompressed block when
// that is smaller. False, with nothing written, when a frame would exceed
// the payload limit.
bool CLzxBlockWriter::WriteCompressed(const LzxBlock &block, std::vector<uint8_t> &out,
                                      std::vector<uint32_t> &frameEnds)
{
    Trees &trees = *m_Trees;
    const BlockCosts costs = PrepareTrees(block, trees);
    if (costs.RawBits <= costs.CompressedBits) {
        WriteUncompressed(block, out, frameEnds);
        return true;
    }
    if (!FramesFit(block, trees, costs.HeaderBits)) {
        return false;
    }

    // Header and trees; the trees become the next block's reference.
    BuildCanonicalCodes(trees.Main, m_MainSymbols, trees.MainCodes);
    BuildCanonicalCodes(trees.Length, LZX_LENGTH_SYMBOLS, trees.LengthCodes);
    BuildCanonicalCodes(trees.Aligned, LZX_ALIGNED_SYMBOLS, trees.AlignedCodes);
    CLzxBitWriter bits(out);
    WriteStreamHeader(bits);
    bits.Put(trees.UseAligned ? LZX_BLOCK_ALIGNED : LZX_BLOCK_VERBATIM, 3);
    bits.Put(costs.Bytes >> 8, 16);
    bits.Put(costs.Bytes & 0xFF, 8);
    if (trees.UseAligned) {
        for (uint8_t len : trees.Aligned) {
            bits.Put(len, 3);
        }
    }
    for (const TreePart &part : trees.Parts) {
        part.Write(bits);
    }
    std::memcpy(m_PrevMain, trees.Main, m_MainSymbols);
    std::memcpy(m_PrevLength, trees.Length, LZX_LENGTH_SYMBOLS);

    // The items, frame by frame, each frame padded to a 16-bit boundary.
    uint32_t item = 0;
    for (unsigned f = 0; f < block.Frames; ++f) {
        for (; item < block.FrameItemEnds[f]; ++item) {
            const LzxItem &it = block.Items[item];
            bits.Put(trees.MainCodes[it.Main], trees.Main[it.Main]);
            if (it.Main < LZX_LITERALS) {
                continue;
            }
            if (it.Length) {
                bits.Put(trees.LengthCodes[it.Length - 1], trees.Length[it.Length - 1]);
            }
            const unsigned extra = MAIN_EXTRA_BITS.Bits[it.Main];
            if (trees.UseAligned && extra >= 3) {
                bits.Put(it.Extra >> 3, extra - 3);
                bits.Put(trees.AlignedCodes[it.Extra & 7], trees.Aligned[it.Extra & 7]);
            } else {
                bits.Put(it.Extra, extra);
            }
        }
        bits.AlignToWord();
        frameEnds.push_back(static_cast<uint32_t>(out.size()));
    }
    ++(trees.UseAligned ? m_Stats.Aligned : m_Stats.Verbatim);
    return true;
}

void CLzxBlockWriter::WriteUncompressed(const LzxBlock &block, std::vector<uint8_t> &out,
                                        std::vector<uint32_t> &frameEnds)
{
    uint32_t size = 0;
    for (unsigned f = 0; f < block.Frames; ++f) {
        size += block.FrameSizes[f];
    }
    CLzxBitWriter bits(out);
    WriteStreamHeader(bits);
    bits.Put(LZX_BLOCK_UNCOMPRESSED, 3);
    bits.Put(size >> 8, 16);
    bits.Put(size & 0xFF, 8);
    // 1-16 bits to the next word boundary: a whole word when on one already.
    if (bits.IsAligned()) {
        bits.Put(0, 16);
    }
    bits.AlignToWord();
    // The repeated offsets the next block's matches were chosen with.
    uint8_t repeats[12];
    for (unsigned r = 0; r < 3; ++r) {
        PutLe32(repeats + 4 * r, block.FrameRepeats[3 * (block.Frames - 1) + r]);
    }
    bits.PutBytes(repeats, sizeof repeats);
    const uint8_t *raw = block.Raw;
    for (unsigned f = 0; f < block.Frames; ++f) {
        bits.PutBytes(raw, block.FrameSizes[f]);
        raw += block.FrameSizes[f];
        if (f + 1 == block.Frames && size % 2 != 0) {
            const uint8_t pad = 0;
            bits.PutBytes(&pad, 1);
        }
        frameEnds.push_back(static_cast<uint32_t>(out.size()));
    }
    ++m_Stats.Uncompressed;
}

} // namespace Selfex
