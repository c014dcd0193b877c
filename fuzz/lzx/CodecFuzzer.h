// Shared driver of the codec fuzz targets (LZX here, Quantum in
// fuzz/quantum): one codec on a memory block.
//
// Input layout: one byte choosing the window size, then blocks, each a
// 4-byte header and a payload:
//   bytes 0-1  payload size, little-endian (cut to what is left of the input
//              and to CODEC_INPUT_MAX)
//   bytes 2-3  bits 0-14: output size - 1 (so 1..32768); bit 15: call
//              Reset() before this block (a new folder)
// Every payload is copied into a buffer of exactly its size plus the
// promised zero padding, and the output into one of exactly the asked size,
// so ASan sees any access beyond them. A block that fails is followed by
// Reset(), as the cabinet reader does before it uses a codec again. All
// memory goes through counting callbacks; a leak aborts.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fdi/Codec.h"

namespace CodecFuzz {

inline long g_LiveBlocks = 0;

inline void *Alloc(uint32_t size)
{
    ++g_LiveBlocks;
    return std::malloc(size);
}

inline void Free(void *block)
{
    if (block) {
        --g_LiveBlocks;
    }
    std::free(block);
}

// Largest number of blocks one input decodes.
constexpr unsigned MAX_BLOCKS = 80;

// Decodes the input's blocks until their output sizes add up to
// outputBudget: a target sets it so that runs stay short and windows still
// wrap (the largest LZX window needs 2 MiB; Quantum, much slower per byte,
// wraps its smaller windows).
template <typename Create>
int Run(const uint8_t *data, size_t size, uint32_t outputBudget, Create create)
{
    if (size < 1) {
        return 0;
    }
    const Fdi::Allocator allocator{Alloc, Free};
    Fdi::Status status;
    Fdi::CCodec *codec = create(allocator, data[0], &status);
    if (!codec) {
        return 0;
    }
    size_t at = 1;
    uint64_t output = 0;
    for (unsigned block = 0; block < MAX_BLOCKS && at + 4 <= size && output < outputBudget; ++block) {
        size_t inSize = static_cast<size_t>(data[at]) | static_cast<size_t>(data[at + 1]) << 8;
        const unsigned field = static_cast<unsigned>(data[at + 2]) | static_cast<unsigned>(data[at + 3]) << 8;
        at += 4;
        inSize = inSize < size - at ? inSize : size - at;
        inSize = inSize < Fdi::CODEC_INPUT_MAX ? inSize : Fdi::CODEC_INPUT_MAX;
        const uint32_t outSize = (field & 0x7FFF) + 1;
        output += outSize;
        if (field & 0x8000) {
            codec->Reset();
        }
        auto *in = static_cast<uint8_t *>(std::calloc(inSize + Fdi::CODEC_INPUT_PADDING, 1));
        auto *out = static_cast<uint8_t *>(std::malloc(outSize));
        std::memcpy(in, data + at, inSize);
        at += inSize;
        if (codec->DecodeBlock(in, static_cast<uint32_t>(inSize), out, outSize) != Fdi::Status::Ok) {
            codec->Reset();
        }
        std::free(in);
        std::free(out);
    }
    allocator.Delete(codec);
    if (g_LiveBlocks != 0) {
        std::abort(); // the codec leaked (or freed twice)
    }
    return 0;
}

} // namespace CodecFuzz
