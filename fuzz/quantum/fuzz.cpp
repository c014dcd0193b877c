// Fuzz target: the Quantum codec on a memory block (layout in
// fuzz/lzx/CodecFuzzer.h, shared with the LZX target). The first byte picks
// the window, 2^(10 + byte % 12), and the level (byte / 12 % 8, ignored by
// the decoder). An input decodes at most 64 KiB: arithmetic decoding is
// slow under the sanitizers, and windows up to 2^16 still wrap.
//
// Seeds (corpus/): see README.md.
#include "fuzz/lzx/CodecFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return CodecFuzz::Run(data, size, 64u << 10, [](const Fdi::Allocator &alloc, uint8_t choice, Fdi::Status *status) {
        return Fdi::CreateQuantum(alloc, choice / 12u % 8u, 10u + choice % 12u, status);
    });
}
