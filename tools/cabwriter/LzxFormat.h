// LZX numbers as the encoder uses them: the format's own (fdi/LzxFormat.h,
// shared with the decoder) and the encoder's limits and symbol arithmetic.
#pragma once

#include <cstdint>

#include "fdi/LzxFormat.h"

namespace Selfex {

using Fdi::LZX_ALIGNED_SYMBOLS;
using Fdi::LZX_BLOCK_ALIGNED;
using Fdi::LZX_BLOCK_UNCOMPRESSED;
using Fdi::LZX_BLOCK_VERBATIM;
using Fdi::LZX_E8_FRAME_LIMIT;
using Fdi::LZX_FRAME_SIZE;
using Fdi::LZX_LENGTH_SYMBOLS;
using Fdi::LZX_LITERALS;
using Fdi::LZX_MAIN_SYMBOLS_MAX;
using Fdi::LZX_MAX_MATCH;
using Fdi::LZX_MAX_SLOTS;
using Fdi::LZX_MAX_WINDOW_BITS;
using Fdi::LZX_MIN_MATCH;
using Fdi::LZX_MIN_WINDOW_BITS;
using Fdi::LZX_PRETREE_SYMBOLS;
using Fdi::LzxExtraBits;

constexpr unsigned LZX_DEFAULT_WINDOW_BITS = 21;
constexpr unsigned LZX_MAX_CODE_LENGTH = 16;    // main and length trees
constexpr unsigned LZX_MAX_PRETREE_LENGTH = 15; // 4-bit length fields
constexpr unsigned LZX_MAX_ALIGNED_LENGTH = 7;  // 3-bit length fields
constexpr unsigned LZX_LENGTH_HEADERS = 7;      // length - 2 below this fits the main symbol alone

// The x86 call filter leaves frames of up to 10 bytes, and the last 10
// bytes of every frame, alone.
constexpr uint32_t LZX_E8_TAIL = 10;

// First formatted offset (offset + 2) of a position slot, 0 to 50.
constexpr uint32_t LzxSlotBase(unsigned slot)
{
    return Fdi::LZX_SLOTS.Slot[slot].Base;
}

// A window of 2^bits bytes uses the slots whose base lies below its size.
constexpr unsigned LzxSlotCount(unsigned windowBits)
{
    unsigned slots = 0;
    while (LzxSlotBase(slots) < (1u << windowBits)) {
        ++slots;
    }
    return slots;
}

static_assert(LzxSlotCount(15) == 30 && LzxSlotCount(20) == 42 && LzxSlotCount(21) == LZX_MAX_SLOTS,
              "slot counts of the window sizes");

// The farthest match offset the encoder uses: one less than the last
// slot's last value, 2^windowBits - 3, which 7-Zip (22.01) decodes wrongly
// without noticing (interop.sh: lzx-far-15, lzx-far-21).
constexpr uint32_t LzxMaxOffset(unsigned windowBits)
{
    return (1u << windowBits) - 4;
}

// Position slot of a formatted offset (an explicit offset + 2, so 3 or more).
inline unsigned LzxSlotOf(uint32_t formatted)
{
    if (formatted < 4) {
        return formatted;
    }
    if (formatted < (1u << 18)) {
        // Two slots per power of two: the top bit picks the pair, the next one the slot.
        const unsigned top = 31u - static_cast<unsigned>(__builtin_clz(formatted));
        return 2 * top + ((formatted >> (top - 1)) & 1);
    }
    // From 2^18 on every slot spans 2^17 values.
    return 36 + ((formatted - (1u << 18)) >> 17);
}

inline unsigned LzxMainSymbol(unsigned slot, uint32_t length)
{
    const uint32_t header = length - LZX_MIN_MATCH < LZX_LENGTH_HEADERS ? length - LZX_MIN_MATCH : LZX_LENGTH_HEADERS;
    return LZX_LITERALS + (slot << 3 | header);
}

} // namespace Selfex
