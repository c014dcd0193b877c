// Creation of the window codecs (LZX, Quantum): the history window comes
// from the client's alloc callback once, before the codec object; both are
// given back if either allocation fails.
#pragma once

#include <cstdint>

#include "fdi/Codec.h"

namespace Fdi {

// Allocates windowBytes, then constructs Codec(alloc, windowBits, window),
// which owns the window from then on. NULL with *status = NoMemory when the
// callback refuses either block.
template <typename Codec>
CCodec *CreateWithWindow(const Allocator &alloc, uint32_t windowBytes, unsigned windowBits, Status *status)
{
    auto *window = static_cast<uint8_t *>(alloc.Alloc(windowBytes));
    Codec *codec = window ? alloc.New<Codec>(alloc, windowBits, window) : nullptr;
    if (!codec) {
        if (window) {
            alloc.Free(window);
        }
        *status = Status::NoMemory;
        return nullptr;
    }
    *status = Status::Ok;
    return codec;
}

} // namespace Fdi
