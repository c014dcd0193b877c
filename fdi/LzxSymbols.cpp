// LZX hot loop: literals and matches of verbatim and aligned-offset blocks.
//
// The loop keeps the bit reader, the window position and the repeated
// offsets in locals and stores them back once per run. One refill, made
// before every symbol without a test (the test would be as hard to predict
// as the code lengths), provides a whole match: main code, length code and
// offset bits; or two literal codes. The main table's entries carry a match
// symbol's count of extra offset bits, so the bits after a code are known
// without another lookup. Every match is
// checked against the end of the run (the block or frame end, whichever
// comes first) and against the output decoded so far before a byte is
// copied. Copies move whole chunks and may overshoot a match's end by up to
// 31 bytes; the buffer (LzxDecoder.h) is one frame larger than the window
// so that those bytes are never history a later match could still read.
#include <cstring>

#include "fdi/LzxDecoder.h"
#include "fdi/Reason.h"

namespace Fdi {

namespace {

// Offset bits after a match's codes: up to 17 verbatim bits, or 14 and a
// 7-bit aligned code.
constexpr unsigned OFFSET_BITS_MAX = 14 + 7;

// Copies a match whose source starts `offset` bytes before dst in memory
// (offset >= 1). Overlapping matches repeat their pattern, as LZ77 defines.
// Whole chunks are copied, so up to 31 bytes past the match end change:
// the caller's buffer has room there, and nothing there is history yet.
inline void CopyMatch(uint8_t *dst, uint32_t offset, uint32_t length)
{
    const uint8_t *src = dst - offset;
    if (offset >= 16) {
        // Each 16-byte chunk reads bytes written before it. The first two
        // are copied whatever the length: most matches fit them, and the
        // loop's exit would be mispredicted as often as lengths vary.
        std::memcpy(dst, src, 16);
        std::memcpy(dst + 16, src + 16, 16);
        for (uint32_t i = 32; i < length; i += 16) {
            std::memcpy(dst + i, src + i, 16);
        }
    } else if (offset >= 8) {
        for (uint32_t i = 0; i < length; i += 8) {
            std::memcpy(dst + i, src + i, 8);
        }
    } else if (offset == 1) {
        std::memset(dst, src[0], length);
    } else {
        // A short pattern (offset 2-7): write the first multiple of it that
        // is 8 bytes or longer bytewise, then 8-byte chunks from that far
        // back, which repeats the pattern exactly.
        const uint32_t period = (8 + offset - 1) / offset * offset;
        const uint32_t head = period < length ? period : length;
        for (uint32_t i = 0; i < head; ++i) {
            dst[i] = src[i];
        }
        for (uint32_t i = head; i < length; i += 8) {
            std::memcpy(dst + i, dst + i - period, 8);
        }
    }
}

// Copies a match whose source starts in the previous cycle of the buffer,
// at buffer[pos + bufferSize - offset], ahead of dst in memory by more than
// a frame, so whole chunks never read what the copy wrote. The part up to
// the buffer's end may read up to 15 bytes past it (into the slack) and
// write as far past its own end: that is either past the match, or the
// start of the rest, which begins at buffer[0] as an ordinary match and
// overwrites those bytes before any chunk of it reads them.
inline void CopyWrapped(uint8_t *buffer, uint32_t bufferSize, uint32_t pos, uint32_t offset, uint32_t length)
{
    const uint32_t source = pos + bufferSize - offset;
    const uint32_t first = bufferSize - source < length ? bufferSize - source : length;
    for (uint32_t i = 0; i < first; i += 16) {
        std::memcpy(buffer + pos + i, buffer + source + i, 16);
    }
    if (first < length) {
        CopyMatch(buffer + pos + first, offset, length - first);
    }
}

} // namespace

template <bool Aligned>
Status CLzxDecoder::DecodeSymbols(uint32_t runEnd)
{
    // Locals, not members: every byte stored to the window may alias a
    // member as far as the compiler knows, which would reload them all.
    CBitReader bits = m_Bits;
    uint8_t *const window = m_Window;
    const uint32_t bufferSize = m_BufferSize;
    const uint32_t farthest = m_WindowSize - 1; // offsets of W and more do not exist
    const bool wrapped = m_Wrapped;
    const CMainTable &mainTable = m_MainTable;
    const CLengthTable &lengthTable = m_LengthTable;
    const CAlignedTable &alignedTable = m_AlignedTable;
    uint32_t pos = m_Pos;
    uint32_t r0 = m_R[0], r1 = m_R[1], r2 = m_R[2];
    Status status = Status::Ok;
    static_assert(CBitReader::BITS_AFTER_REFILL >= CMainTable::MAX_LENGTH + CLengthTable::MAX_LENGTH + OFFSET_BITS_MAX,
                  "one refill must cover a whole match");
    static_assert(CBitReader::BITS_AFTER_REFILL >= 3 * CMainTable::MAX_LENGTH, "one refill must cover three literals");

    while (pos < runEnd) {
        bits.Refill();
        uint32_t entry = mainTable.DecodeEntry(bits);
        unsigned symbol = CMainTable::SymbolOf(entry);
        if (symbol < LZX_LITERALS) {
            // Literals come in runs; one refill covers three codes, so up to
            // three are taken, unrolled by hand, before the next refill.
            window[pos++] = static_cast<uint8_t>(symbol);
            if (pos == runEnd) {
                break;
            }
            entry = mainTable.DecodeEntry(bits);
            symbol = CMainTable::SymbolOf(entry);
            if (symbol < LZX_LITERALS) {
                window[pos++] = static_cast<uint8_t>(symbol);
                if (pos == runEnd) {
                    break;
                }
                entry = mainTable.DecodeEntry(bits);
                symbol = CMainTable::SymbolOf(entry);
                if (symbol < LZX_LITERALS) {
                    window[pos++] = static_cast<uint8_t>(symbol);
                    continue;
                }
            }
            bits.Refill();
        }

        // 1. Length: the 3-bit header, extended by the length tree.
        const unsigned matchSymbol = symbol - LZX_LITERALS;
        //    The length code is looked up for every match and taken only
        //    after header 7: a select, as whether a match is long is as
        //    hard to predict as whether a symbol is a literal. An empty
        //    length tree gives EMPTY_SYMBOL without bits: longer than any
        //    run, so the bounds check below refuses the match.
        const bool extended = (matchSymbol & 7) == 7;
        const uint32_t lengthEntry = lengthTable.PeekEntry(bits) & (0u - extended);
        bits.SkipCode(lengthEntry);
        const uint32_t length = (matchSymbol & 7) + LZX_MIN_MATCH + CLengthTable::SymbolOf(lengthEntry);

        // 2. Offset: slot base plus extra bits, or a repeated one.
        const unsigned slot = matchSymbol >> 3;
        uint32_t offset;
        if (slot >= 3) {
            const unsigned extra = CMainTable::TagOf(entry);
            offset = LZX_SLOTS.Slot[slot].Base - 2;
            if (Aligned && extra >= 3) {
                // The aligned code follows the verbatim bits: look it up
                // before taking them.
                const unsigned verbatim = extra - 3u;
                const uint32_t aligned = alignedTable.Lookup(bits.Buffer() << verbatim);
                offset += bits.Take(verbatim) << 3;
                bits.SkipCode(aligned);
                offset += CAlignedTable::SymbolOf(aligned);
            } else {
                offset += bits.Take(extra);
            }
            r2 = r1;
            r1 = r0;
            r0 = offset;
        } else if (slot == 0) {
            offset = r0;
        } else if (slot == 1) {
            offset = r1;
            r1 = r0;
            r0 = offset;
        } else {
            offset = r2;
            r2 = r0;
            r0 = offset;
        }

        // 3. Bounds: the match must end inside the run and start inside the
        //    folder's output (offsets of 0 or of the whole window do not
        //    exist; stored R values can hold anything).
        const uint32_t reach = wrapped ? farthest : pos;
        if (length > runEnd - pos || offset - 1u >= reach) {
            status = Fdi::Fail(Status::BadData, "match beyond the frame or offset beyond window");
            break;
        }

        // 4. Copy. The destination never wraps (runs stay inside a frame);
        //    the source wraps when it starts in the previous window cycle.
        if (offset <= pos) {
            CopyMatch(window + pos, offset, length);
        } else {
            CopyWrapped(window, bufferSize, pos, offset, length);
        }
        pos += length;
    }

    m_Bits = bits;
    m_Pos = pos;
    m_R[0] = r0;
    m_R[1] = r1;
    m_R[2] = r2;
    return status;
}

template Status CLzxDecoder::DecodeSymbols<false>(uint32_t runEnd);
template Status CLzxDecoder::DecodeSymbols<true>(uint32_t runEnd);

} // namespace Fdi
