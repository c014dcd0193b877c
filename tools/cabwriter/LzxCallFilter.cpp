// The encoder side of LZX's x86 call filter.
//
// Decoders turn an operand a at position p back with: when -p <= a < size,
// a >= 0 gives a - p and a < 0 gives a + size. The encoder's mapping of an
// operand r with -p <= r < size is the inverse: r + p when that is below
// size, else r - size. Operands outside that range are left as they are,
// and decoders leave them too, since they fall outside their range as well.
#include "tools/cabwriter/LzxCallFilter.h"

#include <cstring>

#include "tools/cabwriter/LzxFormat.h"

namespace Selfex {

void EncodeCallTargets(uint8_t *data, uint32_t length, uint32_t position, int32_t size)
{
    if (length <= LZX_E8_TAIL) {
        return;
    }
    uint8_t *const end = data + length - LZX_E8_TAIL;
    for (uint8_t *p = data; p < end;) {
        p = static_cast<uint8_t *>(std::memchr(p, 0xE8, static_cast<size_t>(end - p)));
        if (!p) {
            break;
        }
        const int64_t current = int64_t{position} + (p - data);
        const uint32_t operand = uint32_t{p[1]} | uint32_t{p[2]} << 8 | uint32_t{p[3]} << 16 | uint32_t{p[4]} << 24;
        const int64_t relative = static_cast<int32_t>(operand);
        if (relative >= -current && relative < size) {
            const int64_t absolute = relative < size - current ? relative + current : relative - size;
            const uint32_t value = static_cast<uint32_t>(absolute);
            p[1] = static_cast<uint8_t>(value);
            p[2] = static_cast<uint8_t>(value >> 8);
            p[3] = static_cast<uint8_t>(value >> 16);
            p[4] = static_cast<uint8_t>(value >> 24);
        }
        p += 5;
    }
}

} // namespace Selfex
