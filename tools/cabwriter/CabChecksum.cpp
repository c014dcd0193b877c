// The CFDATA checksum.
#include "tools/cabwriter/CabChecksum.h"

#include "tools/cabwriter/CabLayout.h"

namespace Selfex {

uint32_t CabChecksum(const uint8_t *data, size_t size, uint32_t seed)
{
    uint32_t sum = seed;
    size_t words = size / 4;
    for (size_t i = 0; i < words; ++i) {
        sum ^= GetLe32(data + 4 * i);
    }

    // The tail is packed big-end first, unlike the words before it.
    uint32_t tail = 0;
    for (size_t i = 4 * words; i < size; ++i) {
        tail = tail << 8 | data[i];
    }
    return sum ^ tail;
}

uint32_t CabDataChecksum(const uint8_t *payload, uint16_t cbData, uint16_t cbUncomp)
{
    uint8_t sizes[4];
    PutLe16(sizes, cbData);
    PutLe16(sizes + 2, cbUncomp);
    return CabChecksum(sizes, sizeof sizes, CabChecksum(payload, cbData, 0));
}

} // namespace Selfex
