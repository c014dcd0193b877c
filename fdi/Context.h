// The decompressor context behind an HFDI, and the client I/O it wraps.
#pragma once

#include <cstdint>

#include "fdi/Codec.h"
#include "fdi/FdiApi.h"

namespace Fdi {

// The client's file callbacks. Handles are the client's own values,
// passed through unchanged.
struct FileCallbacks {
    PFNOPEN Open;
    PFNREAD Read;
    PFNWRITE Write;
    PFNCLOSE Close;
    PFNSEEK Seek;
};

// What FDICreate allocates. Lives until FDIDestroy; holds no memory of its
// own besides itself, so every FDICopy starts and ends with nothing else
// allocated.
struct Context {
    uint32_t Magic;      // CONTEXT_MAGIC while alive, to refuse stray pointers
    Allocator Memory;    // alloc and free callbacks
    FileCallbacks Files; // open, read, write, close, seek callbacks
    PERF Erf;            // the client's error block
    bool Busy;           // an FDICopy or FDIIsCabinet is running on this context
    const char *Reason;  // why the last FDICopy or FDIIsCabinet failed; NULL after a success
};

constexpr uint32_t CONTEXT_MAGIC = 0x49444643; // "CFDI"

} // namespace Fdi
