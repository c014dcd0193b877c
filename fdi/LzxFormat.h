// The numbers of the LZX format as cabinets use it (windows of 2^15 to
// 2^21 bytes), shared by the decoder and the cabinet writer's encoder.
// Dependency-free, like CabFormat.h.
#pragma once

#include <cstdint>

namespace Fdi {

constexpr unsigned LZX_MIN_WINDOW_BITS = 15;
constexpr unsigned LZX_MAX_WINDOW_BITS = 21;
constexpr uint32_t LZX_FRAME_SIZE = 32768; // output of one CFDATA block, except the folder's last
constexpr unsigned LZX_LITERALS = 256;     // main symbols below this are bytes
constexpr unsigned LZX_MAX_SLOTS = 50;     // position slots of the 2 MiB window
constexpr unsigned LZX_MAIN_SYMBOLS_MAX = LZX_LITERALS + 8 * LZX_MAX_SLOTS;
constexpr unsigned LZX_LENGTH_SYMBOLS = 249; // length tree: match lengths 9..257
constexpr unsigned LZX_PRETREE_SYMBOLS = 20; // 0..16 deltas, 17..19 runs
constexpr unsigned LZX_ALIGNED_SYMBOLS = 8;  // low 3 offset bits in aligned blocks
constexpr unsigned LZX_MIN_MATCH = 2;
constexpr unsigned LZX_MAX_MATCH = 257;
constexpr uint32_t LZX_E8_FRAME_LIMIT = 32768; // frames from here on are never translated

// The 3-bit block type of a block header.
constexpr unsigned LZX_BLOCK_VERBATIM = 1;
constexpr unsigned LZX_BLOCK_ALIGNED = 2;
constexpr unsigned LZX_BLOCK_UNCOMPRESSED = 3;

// Extra offset bits of a position slot: none for slots 0-3, then one more
// every two slots, at most 17.
constexpr unsigned LzxExtraBits(unsigned slot)
{
    return slot < 4 ? 0 : (slot / 2 - 1 < 17 ? slot / 2 - 1 : 17);
}

// Position slots: slot s covers offsets Base .. Base + 2^Extra - 1 (before
// the -2 that makes room for the repeated offsets).
struct LzxSlot {
    uint8_t Extra;
    uint32_t Base;
};
struct LzxSlotTable {
    LzxSlot Slot[LZX_MAX_SLOTS + 1]; // one more, the end of the last slot
};

constexpr LzxSlotTable MakeLzxSlotTable()
{
    LzxSlotTable table{};
    uint32_t base = 0;
    for (unsigned slot = 0; slot <= LZX_MAX_SLOTS; ++slot) {
        const unsigned extra = LzxExtraBits(slot);
        table.Slot[slot] = {static_cast<uint8_t>(extra), base};
        base += 1u << extra;
    }
    return table;
}

inline constexpr LzxSlotTable LZX_SLOTS = MakeLzxSlotTable();
static_assert(LZX_SLOTS.Slot[30].Base == 1u << 15 && LZX_SLOTS.Slot[42].Base == 1u << 20 &&
                  LZX_SLOTS.Slot[50].Base == 1u << 21,
              "slot bases must reach each window size at its slot count");

} // namespace Fdi
