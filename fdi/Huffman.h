// Canonical Huffman decoding tables for the LZX codec.
//
// Format notes: a tree is sent as one code length per symbol (0 = unused).
// Codes are canonical: shorter codes come first and, within one length,
// codes rise with the symbol number. Code bits are read first bit first
// from an MSB-first bit reader, so the next TableBits bits of the stream
// index the table directly.
//
// Layout: a root table of 2^TableBits entries resolves every code of up to
// TableBits bits in one lookup. A longer code's first TableBits bits select
// a link entry pointing at a subtable indexed by the following bits. An
// entry holds the number of bits to consume in bits 0-4 (bits 5-7 zero, so
// CBitReader::SkipCode takes the entry as it is), the caller's tag of the
// symbol in bits 8-12, the link flag in bit 15 and the symbol in bits 16-31.
// A link holds its subtable's index width in bits 8-12 and its start in
// bits 16-31. The code length sits lowest because the decoding loop waits
// on it: the next lookup needs the shifted bit buffer.
//
// Only complete codes are built: a set of lengths whose Kraft sum is not
// exactly one is refused (over-subscribed codes would overwrite entries,
// incomplete ones would leave entries without a symbol). The one exception
// is a tree with no codes at all, which Build reports as Empty so the caller
// can decide whether its format allows that; such a table decodes every
// input to EMPTY_SYMBOL without consuming bits.
#pragma once

#include <cstdint>

#include "fdi/BitReader.h"

namespace Fdi {

// What Decode gives from an empty table: above every symbol count.
constexpr unsigned EMPTY_SYMBOL = 0xFFFF;

enum class TableBuild {
    Complete, // a complete code; Decode may be used
    Empty,    // every length is 0; Decode consumes nothing and gives EMPTY_SYMBOL
    Invalid,  // over-subscribed, incomplete or a length above the maximum
};

template <unsigned NumSymbols, unsigned TableBits, unsigned MaxLength>
class CHuffmanTable {
    static_assert(MaxLength >= 1 && MaxLength <= 16, "code lengths are 4-bit or delta coded up to 16");
    static_assert(TableBits >= 1 && TableBits <= MaxLength, "the root table cannot be wider than the longest code");
    static_assert(NumSymbols >= 2 && NumSymbols <= 0xFFFF, "symbols must fit an entry's 16-bit field");

    static constexpr unsigned SUB_BITS = MaxLength - TableBits;
    static constexpr unsigned ROOT_SIZE = 1u << TableBits;
    // Room for subtables. A subtable of 2^s entries serves a complete
    // subtree of depth s, which holds at least s + 1 codes; 2^s / (s + 1)
    // grows with s, so the worst case spends the long codes on subtables of
    // the greatest depth, plus one smaller subtable for the rest.
    static constexpr unsigned SUB_SIZE = SUB_BITS == 0 ? 0 : (NumSymbols / (SUB_BITS + 1) + 1) << SUB_BITS;
    static constexpr unsigned TABLE_SIZE = ROOT_SIZE + SUB_SIZE;
    static_assert(TABLE_SIZE <= 0x10000, "subtable starts must fit an entry's 16-bit field");

    static constexpr uint32_t LINK = 0x8000u;
    static constexpr unsigned TAG_SHIFT = 8;
    static constexpr unsigned SYMBOL_SHIFT = 16;

public:
    static constexpr unsigned SYMBOLS = NumSymbols;
    static constexpr unsigned MAX_LENGTH = MaxLength;

    // Builds the table from lengths[0..NumSymbols). tags, when given, holds
    // a value below 32 per symbol that decoded entries carry (TagOf). On
    // Invalid the table is left unusable and must not be decoded with.
    TableBuild Build(const uint8_t *lengths, const uint8_t *tags = nullptr)
    {
        // 1. Count the codes of each length and check the Kraft sum.
        unsigned count[MaxLength + 1] = {};
        for (unsigned sym = 0; sym < NumSymbols; ++sym) {
            if (lengths[sym] > MaxLength) {
                return TableBuild::Invalid;
            }
            ++count[lengths[sym]];
        }
        if (count[0] == NumSymbols) {
            // Decoding stays harmless: no bits, and a symbol no tree has.
            for (uint32_t i = 0; i < ROOT_SIZE; ++i) {
                m_Entries[i] = EMPTY_SYMBOL << SYMBOL_SHIFT;
            }
            return TableBuild::Empty;
        }
        int32_t unused = 1; // code space left, in units of the current length
        for (unsigned len = 1; len <= MaxLength; ++len) {
            unused = unused * 2 - static_cast<int32_t>(count[len]);
            if (unused < 0) {
                return TableBuild::Invalid;
            }
        }
        if (unused != 0) {
            return TableBuild::Invalid;
        }

        // 2. The used symbols in canonical order: by length, then by
        //    symbol (a counting sort).
        uint16_t sorted[NumSymbols];
        unsigned start[MaxLength + 2] = {};
        for (unsigned len = 1; len <= MaxLength; ++len) {
            start[len + 1] = start[len] + count[len];
        }
        for (unsigned sym = 0; sym < NumSymbols; ++sym) {
            if (lengths[sym] != 0) {
                sorted[start[lengths[sym]]++] = static_cast<uint16_t>(sym);
            }
        }
        // (start[len] now marks the end of length len's symbols.)

        // 3. Codes that fit the root. Canonical codes of rising length,
        //    left-aligned to TableBits, are consecutive: each fills the
        //    next 2^(TableBits - len) entries.
        uint32_t next = 0;
        unsigned index = 0;
        for (unsigned len = 1; len <= TableBits; ++len) {
            const uint32_t span = 1u << (TableBits - len);
            for (; index < start[len]; ++index) {
                const uint32_t entry = LeafEntry(sorted[index], len, tags);
                for (uint32_t i = 0; i < span; ++i) {
                    m_Entries[next + i] = entry;
                }
                next += span;
            }
        }
        if constexpr (SUB_BITS > 0) {
            return BuildSubtables(lengths, tags, sorted + index, static_cast<unsigned>(NumSymbols - count[0]) - index,
                                  next);
        }
        return TableBuild::Complete;
    }

    // The entry (SymbolOf, TagOf; CBitReader::SkipCode consumes it) of the
    // code at the top of the reader's buffer, which must hold at least
    // MaxLength bits.
    uint32_t PeekEntry(const CBitReader &bits) const
    {
        const uint64_t window = bits.Buffer();
        uint32_t entry = m_Entries[window >> (64 - TableBits)];
        if (entry & LINK) {
            const unsigned width = (entry >> TAG_SHIFT) & 31;
            entry = m_Entries[(entry >> SYMBOL_SHIFT) + ((window << TableBits) >> (64 - width))];
        }
        return entry;
    }
    // Decodes one code and returns its entry.
    uint32_t DecodeEntry(CBitReader &bits) const
    {
        const uint32_t entry = PeekEntry(bits);
        bits.SkipCode(entry);
        return entry;
    }
    // Decodes one symbol. The reader must hold at least MaxLength bits.
    unsigned Decode(CBitReader &bits) const { return SymbolOf(DecodeEntry(bits)); }
    // The entry of the code at the top of window, consuming nothing; for
    // tables without subtables (every code fits the root).
    uint32_t Lookup(uint64_t window) const
    {
        static_assert(SUB_BITS == 0, "codes longer than the root need Decode");
        return m_Entries[window >> (64 - TableBits)];
    }

    static unsigned SymbolOf(uint32_t entry) { return entry >> SYMBOL_SHIFT; }
    static unsigned TagOf(uint32_t entry) { return (entry >> TAG_SHIFT) & 31; }

private:
    static uint32_t LeafEntry(unsigned symbol, unsigned length, const uint8_t *tags)
    {
        const uint32_t tag = tags ? tags[symbol] & 31u : 0;
        return static_cast<uint32_t>(symbol) << SYMBOL_SHIFT | tag << TAG_SHIFT | length;
    }

    // Step 4 of Build: the codes longer than TableBits, in canonical order
    // (symbols[0..numCodes), whose lengths are lengths[symbol]); the first
    // of them starts at root index `first`, left-aligned to TableBits. Codes
    // sharing their first TableBits bits come together and the last of each
    // group is its longest.
    TableBuild BuildSubtables(const uint8_t *lengths, const uint8_t *tags, const uint16_t *symbols, unsigned numCodes,
                              uint32_t first)
    {
        uint32_t code = first << SUB_BITS; // the next code, left-aligned to MaxLength bits
        unsigned nextFree = ROOT_SIZE;
        for (unsigned start = 0; start < numCodes;) {
            const uint32_t prefix = code >> SUB_BITS;
            // The group: codes up to the end of this prefix's range.
            uint32_t groupEnd = code;
            unsigned end = start;
            while (end < numCodes && (groupEnd >> SUB_BITS) == prefix) {
                groupEnd += 1u << (MaxLength - lengths[symbols[end]]);
                ++end;
            }
            const unsigned width = lengths[symbols[end - 1]] - TableBits;
            if (nextFree + (1u << width) > TABLE_SIZE) {
                return TableBuild::Invalid; // cannot happen for a complete code
            }
            m_Entries[prefix] = nextFree << SYMBOL_SHIFT | width << TAG_SHIFT | LINK;
            for (unsigned i = start; i < end; ++i) {
                const unsigned len = lengths[symbols[i]];
                // The bits after the prefix, as an index of `width` bits.
                const uint32_t tail = (code & ((1u << SUB_BITS) - 1)) >> (SUB_BITS - width);
                const uint32_t entry = LeafEntry(symbols[i], len, tags);
                for (uint32_t j = 0; j < (1u << (TableBits + width - len)); ++j) {
                    m_Entries[nextFree + tail + j] = entry;
                }
                code += 1u << (MaxLength - len);
            }
            nextFree += 1u << width;
            start = end;
        }
        return TableBuild::Complete;
    }

    uint32_t m_Entries[TABLE_SIZE];
};

} // namespace Fdi
