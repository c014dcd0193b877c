// Builds LZX streams for tests.
#include "tests/testlib/LzxWriter.h"

#include <algorithm>
#include <cassert>
#include <queue>
#include <utility>

namespace TestLib {

namespace {

// Offset slot s holds base(s) .. base(s) + 2^extra(s) - 1, with extra 0 for
// slots 0-3, then one more every two slots, at most 17.
unsigned ExtraBits(unsigned slot)
{
    if (slot < 4) {
        return 0;
    }
    return slot / 2 - 1 < 17 ? slot / 2 - 1 : 17;
}

uint32_t SlotBase(unsigned slot)
{
    uint32_t base = 0;
    for (unsigned s = 0; s < slot; ++s) {
        base += 1u << ExtraBits(s);
    }
    return base;
}

} // namespace

unsigned MainMatch(unsigned slot, unsigned lengthHeader)
{
    return 256 + (slot << 3 | lengthHeader);
}

CodeLengths HuffmanLengths(std::vector<uint64_t> counts, unsigned maxLength)
{
    // A complete code needs two symbols; borrow unused ones.
    size_t used = 0;
    for (uint64_t count : counts) {
        used += count != 0;
    }
    for (size_t sym = 0; used < 2 && sym < counts.size(); ++sym) {
        if (counts[sym] == 0) {
            counts[sym] = 1;
            ++used;
        }
    }
    for (;;) {
        using Node = std::pair<uint64_t, std::vector<size_t>>; // weight, member symbols
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
        for (size_t sym = 0; sym < counts.size(); ++sym) {
            if (counts[sym]) {
                queue.push({counts[sym], {sym}});
            }
        }
        CodeLengths lengths(counts.size(), 0);
        unsigned longest = 0;
        while (queue.size() > 1) {
            Node a = queue.top();
            queue.pop();
            Node b = queue.top();
            queue.pop();
            a.second.insert(a.second.end(), b.second.begin(), b.second.end());
            for (size_t sym : a.second) {
                longest = std::max(longest, static_cast<unsigned>(++lengths[sym]));
            }
            queue.push({a.first + b.first, std::move(a.second)});
        }
        if (longest <= maxLength) {
            return lengths;
        }
        for (uint64_t &count : counts) {
            count = count ? (count + 1) / 2 : 0; // flatten the counts and try again
        }
    }
}

CodeLengths CompleteLengths(const std::vector<unsigned> &symbols, size_t size)
{
    assert(symbols.size() >= 2 && "a complete code needs two symbols");
    // Equal weights: lengths differ by at most one bit.
    std::vector<uint64_t> counts(size, 0);
    for (unsigned sym : symbols) {
        counts.at(sym) = 1;
    }
    return HuffmanLengths(counts, 16);
}

std::vector<uint32_t> CanonicalCodes(const CodeLengths &lengths)
{
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (unsigned len = 1; len <= 16; ++len) {
        for (size_t sym = 0; sym < lengths.size(); ++sym) {
            if (lengths[sym] == len) {
                codes[sym] = code++;
            }
        }
        code <<= 1;
    }
    return codes;
}

LzxOffset LzxOffsetSlot(uint32_t offset)
{
    const uint32_t formatted = offset + 2;
    unsigned slot = 3;
    while (SlotBase(slot + 1) <= formatted) {
        ++slot;
    }
    return {slot, formatted - SlotBase(slot), ExtraBits(slot)};
}

std::vector<LzxOp> Lits(const std::string &text)
{
    std::vector<LzxOp> ops;
    for (char c : text) {
        ops.push_back(Lit(static_cast<uint8_t>(c)));
    }
    return ops;
}

namespace {

// Main symbol and length-tree symbol (or -1) of one op.
std::pair<unsigned, int> SymbolsOf(const LzxOp &op)
{
    if (op.What == LzxOp::Literal) {
        return {op.Value, -1};
    }
    const unsigned slot = op.What == LzxOp::Repeat ? op.Offset : LzxOffsetSlot(op.Offset).Slot;
    const unsigned header = op.Value - 2 < 7 ? op.Value - 2 : 7;
    return {MainMatch(slot, header), header == 7 ? static_cast<int>(op.Value - 9) : -1};
}

// Complete lengths over the symbols marked in `used`, borrowing spare
// symbols so there are at least two.
CodeLengths LengthsForUsed(const std::vector<bool> &used)
{
    return HuffmanLengths(std::vector<uint64_t>(used.begin(), used.end()), 16);
}

} // namespace

CodeLengths CLzxWriter::MainTreeFor(const std::vector<LzxOp> &ops) const
{
    std::vector<bool> used(m_MainSymbols, false);
    for (const LzxOp &op : ops) {
        used.at(SymbolsOf(op).first) = true;
    }
    return LengthsForUsed(used);
}

CodeLengths CLzxWriter::LengthTreeFor(const std::vector<LzxOp> &ops)
{
    std::vector<bool> used(LENGTH_SYMBOLS, false);
    bool any = false;
    for (const LzxOp &op : ops) {
        const int sym = SymbolsOf(op).second;
        if (sym >= 0) {
            used.at(static_cast<size_t>(sym)) = true;
            any = true;
        }
    }
    return any ? LengthsForUsed(used) : CodeLengths(LENGTH_SYMBOLS, 0);
}

void CLzxWriter::Write(const std::vector<LzxOp> &ops)
{
    for (const LzxOp &op : ops) {
        if (op.What == LzxOp::Literal) {
            Literal(static_cast<uint8_t>(op.Value));
        } else if (op.What == LzxOp::Match) {
            Match(op.Value, op.Offset);
        } else {
            Repeat(op.Value, op.Offset);
        }
    }
}

void CLzxWriter::VerbatimOps(const std::vector<LzxOp> &ops)
{
    uint32_t size = 0;
    for (const LzxOp &op : ops) {
        size += op.What == LzxOp::Literal ? 1 : op.Value;
    }
    VerbatimBlock(size, MainTreeFor(ops), LengthTreeFor(ops));
    Write(ops);
}

CLzxWriter::CLzxWriter(unsigned windowBits)
{
    unsigned slots = 0;
    while (SlotBase(slots) < (1u << windowBits)) {
        ++slots;
    }
    m_MainSymbols = 256 + 8 * slots;
    m_PrevMain.assign(m_MainSymbols, 0);
    m_PrevLength.assign(LENGTH_SYMBOLS, 0);
}

CodeLengths CLzxWriter::UniformMain(const std::vector<unsigned> &symbols) const
{
    return CompleteLengths(symbols, m_MainSymbols);
}

CodeLengths CLzxWriter::UniformLength(const std::vector<unsigned> &symbols)
{
    return symbols.empty() ? CodeLengths(LENGTH_SYMBOLS, 0) : CompleteLengths(symbols, LENGTH_SYMBOLS);
}

void CLzxWriter::StreamHeader(uint32_t e8Size)
{
    m_Bits.Put(e8Size != 0, 1);
    if (e8Size != 0) {
        m_Bits.Put(e8Size >> 16, 16);
        m_Bits.Put(e8Size & 0xFFFF, 16);
    }
}

void CLzxWriter::BlockHeader(unsigned type, uint32_t size)
{
    m_Bits.Put(type, 3);
    m_Bits.Put(size >> 8, 16);
    m_Bits.Put(size & 0xFF, 8);
}

void CLzxWriter::TreePart(CodeLengths &previous, const CodeLengths &lengths, size_t first, size_t last, bool useRuns,
                          const CodeLengths *preTree)
{
    // 1. Turn the lengths into pre-tree operations (symbol, extra value).
    struct Op {
        unsigned Code;
        unsigned Extra;
        unsigned Change; // the delta after code 19
    };
    std::vector<Op> ops;
    for (size_t x = first; x < last;) {
        size_t zeros = 0;
        while (x + zeros < last && lengths[x + zeros] == 0 && zeros < 51) {
            ++zeros;
        }
        size_t same = 1;
        while (x + same < last && lengths[x + same] == lengths[x] && same < 5) {
            ++same;
        }
        const unsigned change = (previous[x] + 17u - lengths[x]) % 17;
        if (useRuns && zeros >= 20) {
            ops.push_back({18, static_cast<unsigned>(zeros - 20), 0});
            x += zeros;
        } else if (useRuns && zeros >= 4) {
            zeros = zeros > 19 ? 19 : zeros;
            ops.push_back({17, static_cast<unsigned>(zeros - 4), 0});
            x += zeros;
        } else if (useRuns && same >= 4) {
            ops.push_back({19, static_cast<unsigned>(same - 4), change});
            x += same;
        } else {
            ops.push_back({change, 0, 0});
            ++x;
        }
    }
    // 2. Pre-tree from the operation counts.
    std::vector<uint64_t> counts(20, 0);
    for (const Op &op : ops) {
        ++counts[op.Code];
        if (op.Code == 19) {
            ++counts[op.Change];
        }
    }
    const CodeLengths pre = preTree ? *preTree : HuffmanLengths(counts, 15);
    const std::vector<uint32_t> preCodes = CanonicalCodes(pre);
    for (uint8_t len : pre) {
        assert(len <= 15 && "pre-tree lengths are 4-bit fields");
        m_Bits.Put(len, 4);
    }
    // 3. The operations.
    const unsigned extraBits[20] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 5, 1};
    for (const Op &op : ops) {
        PutCode(preCodes, pre, op.Code);
        m_Bits.Put(op.Extra, extraBits[op.Code]);
        if (op.Code == 19) {
            PutCode(preCodes, pre, op.Change);
        }
    }
    for (size_t x = first; x < last; ++x) {
        previous[x] = lengths[x];
    }
}

void CLzxWriter::SetTrees(const CodeLengths &main, const CodeLengths &length)
{
    assert(main.size() == m_MainSymbols && length.size() == LENGTH_SYMBOLS);
    TreePart(m_PrevMain, main, 0, 256);
    TreePart(m_PrevMain, main, 256, m_MainSymbols);
    TreePart(m_PrevLength, length, 0, LENGTH_SYMBOLS);
    UseTrees(main, length);
}

void CLzxWriter::UseTrees(const CodeLengths &main, const CodeLengths &length)
{
    m_Main = main;
    m_Length = length;
    m_MainCodes = CanonicalCodes(main);
    m_LengthCodes = CanonicalCodes(length);
}

void CLzxWriter::VerbatimBlock(uint32_t size, const CodeLengths &main, const CodeLengths &length)
{
    BlockHeader(1, size);
    m_AlignedBlock = false;
    SetTrees(main, length);
}

void CLzxWriter::AlignedBlock(uint32_t size, const std::array<uint8_t, 8> &aligned, const CodeLengths &main,
                              const CodeLengths &length)
{
    BlockHeader(2, size);
    m_AlignedBlock = true;
    m_Aligned.assign(aligned.begin(), aligned.end());
    m_AlignedCodes = CanonicalCodes(m_Aligned);
    for (uint8_t len : aligned) {
        m_Bits.Put(len, 3);
    }
    SetTrees(main, length);
}

void CLzxWriter::UncompressedBlock(uint32_t size, uint32_t r0, uint32_t r1, uint32_t r2)
{
    BlockHeader(3, size);
    // 1-16 bits of padding: a whole word when the header ended on a boundary.
    if (m_Bits.IsAligned()) {
        m_Bits.Put(0, 16);
    }
    m_Bits.AlignToWord();
    for (uint32_t r : {r0, r1, r2}) {
        m_Bits.PutBytes({static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8), static_cast<uint8_t>(r >> 16),
                         static_cast<uint8_t>(r >> 24)});
    }
}

void CLzxWriter::RawBytes(const std::vector<uint8_t> &bytes)
{
    m_Bits.PutBytes(bytes);
}

void CLzxWriter::PutCode(const std::vector<uint32_t> &codes, const CodeLengths &lengths, unsigned symbol)
{
    assert(lengths.at(symbol) != 0 && "symbol has no code in the current tree");
    m_Bits.Put(codes[symbol], lengths[symbol]);
}

void CLzxWriter::Literal(uint8_t byte)
{
    PutCode(m_MainCodes, m_Main, byte);
}

void CLzxWriter::Literals(const std::vector<uint8_t> &bytes)
{
    for (uint8_t byte : bytes) {
        Literal(byte);
    }
}

void CLzxWriter::MatchSlot(uint32_t length, unsigned slot, uint32_t extra)
{
    assert(length >= 2 && length <= 257);
    const unsigned header = length - 2 < 7 ? length - 2 : 7;
    PutCode(m_MainCodes, m_Main, MainMatch(slot, header));
    if (header == 7) {
        PutCode(m_LengthCodes, m_Length, length - 9);
    }
    const unsigned bits = ExtraBits(slot);
    if (m_AlignedBlock && bits >= 3) {
        m_Bits.Put(extra >> 3, bits - 3);
        PutCode(m_AlignedCodes, m_Aligned, extra & 7);
    } else {
        m_Bits.Put(extra, bits);
    }
}

void CLzxWriter::Match(uint32_t length, uint32_t offset)
{
    const LzxOffset slot = LzxOffsetSlot(offset);
    MatchSlot(length, slot.Slot, slot.Extra);
}

void CLzxWriter::Repeat(uint32_t length, unsigned which)
{
    MatchSlot(length, which, 0);
}

void CLzxWriter::EndFrame()
{
    m_Frames.push_back(m_Bits.Take());
}

std::vector<std::vector<uint8_t>> CLzxWriter::Finish()
{
    if (m_Bits.BitCount() != 0) {
        EndFrame();
    }
    return std::exchange(m_Frames, {});
}

} // namespace TestLib
