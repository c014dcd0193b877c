// LZX format constants and symbol arithmetic, as the encoder writes them.
//
// The decoder (fdi/LzxDecoder.h) keeps its own copy of these numbers; the
// two are built separately (the decoder is POSIX-only, the writer runs on
// both systems), and the interop tests hold them to each other.
#pragma once

#include <cstdint>

namespace Selfex {

constexpr unsigned LZX_MIN_WINDOW_BITS = 15;
constexpr unsigned LZX_MAX_WINDOW_BITS = 21;
constexpr unsigned LZX_DEFAULT_WINDOW_BITS = 21;
constexpr uint32_t LZX_FRAME = 32768; // output bytes per CFDATA block (the folder's last may be shorter)

constexpr unsigned LZX_LITERALS = 256;
constexpr unsigned LZX_MAX_SLOTS = 50; // position slots of the 2 MiB window
constexpr unsigned LZX_MAX_MAIN_SYMBOLS = LZX_LITERALS + 8 * LZX_MAX_SLOTS;
constexpr unsigned LZX_LENGTH_SYMBOLS = 249; // lengths 9 .. 257
constexpr unsigned LZX_PRETREE_SYMBOLS = 20;
constexpr unsigned LZX_ALIGNED_SYMBOLS = 8;
constexpr unsigned LZX_MAX_CODE_LENGTH = 16;    // main and length trees
constexpr unsigned LZX_MAX_PRETREE_LENGTH = 15; // 4-bit length fields
constexpr unsigned LZX_MAX_ALIGNED_LENGTH = 7;  // 3-bit length fields
constexpr unsigned LZX_MIN_MATCH = 2;
constexpr unsigned LZX_MAX_MATCH = 257;
constexpr unsigned LZX_LENGTH_HEADERS = 7; // length - 2 below this fits the main symbol alone

constexpr unsigned LZX_BLOCK_VERBATIM = 1;
constexpr unsigned LZX_BLOCK_ALIGNED = 2;
constexpr unsigned LZX_BLOCK_UNCOMPRESSED = 3;

// The x86 call filter covers the first 32768 frames of a folder and leaves
// frames of up to 10 bytes, and the last 10 bytes of every frame, alone.
constexpr uint32_t LZX_E8_FRAME_LIMIT = 32768;
constexpr uint32_t LZX_E8_TAIL = 10;

// Extra offset bits of a position slot: none for slots 0-3, then one more
// every two slots, at most 17.
constexpr unsigned LzxExtraBits(unsigned slot)
{
    return slot < 4 ? 0 : (slot / 2 - 1 < 17 ? slot / 2 - 1 : 17);
}

// First formatted offset (offset + 2) of a position slot.
constexpr uint32_t LzxSlotBase(unsigned slot)
{
    uint32_t base = 0;
    for (unsigned s = 0; s < slot; ++s) {
        base += 1u << LzxExtraBits(s);
    }
    return base;
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
