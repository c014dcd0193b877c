// The checksum a CFDATA header stores, as the writer computes it.
#pragma once

#include <cstdint>

namespace Selfex {

// The checksum of the payload, continued over the 4 bytes cbData and
// cbUncomp that follow the checksum field (fdi/CabChecksum.h has the sum).
uint32_t CabDataChecksum(const uint8_t *payload, uint16_t cbData, uint16_t cbUncomp);

} // namespace Selfex
