// Fuzz target: the LZX codec on a memory block (layout in CodecFuzzer.h).
// The first byte picks the window: 2^(15 + byte % 7). An input decodes at
// most 3 MiB, enough to wrap the largest window.
//
// Seeds (corpus/): see README.md.
#include "fuzz/lzx/CodecFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return CodecFuzz::Run(data, size, 3u << 20, [](const Fdi::Allocator &alloc, uint8_t choice, Fdi::Status *status) {
        return Fdi::CreateLzx(alloc, 15u + choice % 7u, status);
    });
}
