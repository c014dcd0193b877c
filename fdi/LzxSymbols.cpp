// LZX hot loop: literals and matches of verbatim and aligned-offset blocks.
//
// The loop keeps the bit reader, the window position and the repeated
// offsets in locals and stores them back once per run. One refill per
// symbol provides the main and length codes (up to 16 bits each); a second,
// conditional one provides the offset bits. Every match is checked against
// the end of the run (the block or frame end, whichever comes first) and
// against the output decoded so far before a byte is copied, so the window
// is never written outside the current frame.
#include <cstring>

#include "fdi/LzxDecoder.h"

namespace Fdi {

namespace {

constexpr unsigned EXTRA_BITS_MAX = 17;

// Copies `length` bytes to dst[from..length) from `distance` bytes back,
// Chunk bytes at a time. Requires distance >= Chunk, length >= Chunk and
// dst[0..from) final. A chunk never reads bytes of its own chunk; the last
// one ends exactly at the match end, overlapping the one before it, so
// nothing past the match is touched.
template <unsigned Chunk> inline void CopyChunks(uint8_t *dst, uint32_t distance, uint32_t from, uint32_t length) {
    uint32_t i = from;
    for (; i + Chunk <= length; i += Chunk) {
        std::memcpy(dst + i, dst + i - distance, Chunk);
    }
    if (i < length) {
        std::memcpy(dst + length - Chunk, dst + length - Chunk - distance, Chunk);
    }
}

// Copies a match whose source starts `offset` bytes before dst in memory
// (offset >= 1). Overlapping matches repeat their pattern, as LZ77 defines.
inline void CopyMatch(uint8_t *dst, uint32_t offset, uint32_t length) {
    if (offset >= 16 && length >= 16) {
        CopyChunks<16>(dst, offset, 0, length);
    } else if (offset >= 8 && length >= 8) {
        CopyChunks<8>(dst, offset, 0, length);
    } else if (offset == 1) {
        std::memset(dst, dst[-1], length);
    } else if (length < 16) {
        const uint8_t *src = dst - offset;
        for (uint32_t i = 0; i < length; ++i) {
            dst[i] = src[i];
        }
    } else {
        // A short pattern (offset 2-7) repeated many times: write the first
        // multiple of the pattern that is 8 bytes or longer bytewise, then
        // copy 8-byte chunks from that far back, which repeats it exactly.
        const uint32_t period = (8 + offset - 1) / offset * offset;
        const uint8_t *src = dst - offset;
        for (uint32_t i = 0; i < period; ++i) {
            dst[i] = src[i];
        }
        CopyChunks<8>(dst, period, period, length);
    }
}

} // namespace

template <bool Aligned> Status CLzxDecoder::DecodeSymbols(uint32_t runEnd) {
    CLzxBitReader bits = m_Bits;
    uint8_t *const window = m_Window;
    const uint32_t mask = m_WindowSize - 1;
    uint32_t pos = m_Pos;
    uint32_t r0 = m_R[0], r1 = m_R[1], r2 = m_R[2];
    Status status = Status::Ok;

    while (pos < runEnd) {
        bits.Refill();
        const unsigned symbol = m_MainTable.Decode(bits);
        if (symbol < LZX_LITERALS) {
            window[pos++] = static_cast<uint8_t>(symbol);
            continue;
        }

        // 1. Length: the 3-bit header, extended by the length tree.
        const unsigned matchSymbol = symbol - LZX_LITERALS;
        uint32_t length = matchSymbol & 7;
        if (length == 7) {
            if (m_LengthEmpty) {
                status = Status::BadData;
                break;
            }
            length += m_LengthTable.Decode(bits);
        }
        length += LZX_MIN_MATCH;

        // 2. Offset: a repeated one, or slot base plus extra bits.
        const unsigned slot = matchSymbol >> 3;
        uint32_t offset;
        if (slot == 0) {
            offset = r0;
        } else if (slot == 1) {
            offset = r1;
            r1 = r0;
            r0 = offset;
        } else if (slot == 2) {
            offset = r2;
            r2 = r0;
            r0 = offset;
        } else {
            const LzxSlot info = LZX_SLOTS.Slot[slot];
            // Up to 17 verbatim bits, or 14 plus a 7-bit aligned code.
            if (bits.Count() < EXTRA_BITS_MAX + 7) {
                bits.Refill();
            }
            offset = info.Base - 2;
            if (Aligned && info.Extra >= 3) {
                offset += bits.Take(info.Extra - 3u) << 3;
                offset += m_AlignedTable.Decode(bits);
            } else {
                offset += bits.Take(info.Extra);
            }
            r2 = r1;
            r1 = r0;
            r0 = offset;
        }

        // 3. Bounds: the match must end inside the run and start inside the
        //    folder's output (offsets of 0 or of the whole window do not
        //    exist; stored R values can hold anything).
        const uint32_t reach = m_Wrapped ? mask : pos;
        if (length > runEnd - pos || offset - 1u >= reach) {
            status = Status::BadData;
            break;
        }

        // 4. Copy. The destination never wraps (runs stay inside a frame);
        //    the source wraps when it starts in the previous window cycle.
        uint8_t *const dst = window + pos;
        if (offset <= pos) {
            CopyMatch(dst, offset, length);
        } else {
            const uint32_t src = pos + m_WindowSize - offset;
            for (uint32_t i = 0; i < length; ++i) {
                dst[i] = window[(src + i) & mask];
            }
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
