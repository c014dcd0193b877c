// The CFDATA checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Selfex {

// XOR of the data read as little-endian 32-bit words, starting from seed; a
// tail of 1 to 3 bytes forms one more word with its first byte highest.
uint32_t CabChecksum(const uint8_t *data, size_t size, uint32_t seed);

// The value stored in a CFDATA header: the checksum of the payload, then of
// the 4 bytes cbData and cbUncomp that follow the checksum field.
uint32_t CabDataChecksum(const uint8_t *payload, uint16_t cbData, uint16_t cbUncomp);

} // namespace Selfex
