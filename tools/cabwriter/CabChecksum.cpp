// The checksum a CFDATA header stores.
#include "tools/cabwriter/CabChecksum.h"

#include "fdi/CabChecksum.h"

namespace Selfex {

uint32_t CabDataChecksum(const uint8_t *payload, uint16_t cbData, uint16_t cbUncomp)
{
    uint8_t sizes[4];
    Fdi::PutLe16(sizes, cbData);
    Fdi::PutLe16(sizes + 2, cbUncomp);
    return Fdi::CabChecksum(sizes, sizeof sizes, Fdi::CabChecksum(payload, cbData, 0));
}

} // namespace Selfex
