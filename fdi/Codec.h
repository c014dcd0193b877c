// The interface between the cabinet reader and the folder codecs.
//
// A codec turns the compressed payload of one CFDATA block (already
// reassembled when the block was split across cabinets, checksum verified)
// into that block's uncompressed bytes. It never calls I/O callbacks. The
// blocks of one folder are decoded in order through one codec object; the
// history window and any adaptive state carry from block to block until
// Reset starts the next folder. All memory, the codec object included, comes
// from the client's alloc callback, obtained once when the codec is created.
#pragma once

#include <cstdint>
#include <new>

#include "fdi/FdiApi.h"

namespace Fdi {

// Outcome of a decoder step; mapped to the ERF codes in one place (Fdi.cpp).
enum class Status {
    Ok,
    BadData,        // the compressed data breaks the format
    NoMemory,       // the alloc callback returned NULL
    BadCompression, // unknown compression type or an out-of-range window
};

// The client's memory callbacks, through which every allocation goes.
struct Allocator {
    PFNALLOC Alloc;
    PFNFREE Free;

    // Constructs a T in memory from the callback; NULL when it has none.
    template <typename T, typename... Args>
    T *New(Args &&...args) const
    {
        void *block = Alloc(static_cast<uint32_t>(sizeof(T)));
        return block ? new (block) T(static_cast<Args &&>(args)...) : nullptr;
    }
    template <typename T>
    void Delete(T *object) const
    {
        if (object) {
            object->~T();
            Free(object);
        }
    }
};

// Readable bytes guaranteed behind every input block handed to DecodeBlock,
// all zero, so bit readers may fetch a whole word past the end.
constexpr uint32_t CODEC_INPUT_PADDING = 16;
// Largest compressed payload of one block (32768 + 6144) and largest output.
constexpr uint32_t CODEC_INPUT_MAX = 38912;
constexpr uint32_t CODEC_OUTPUT_MAX = 32768;

class CCodec {
public:
    virtual ~CCodec() = default;

    // Starts a new folder: empties the history and resets all adaptive state.
    // Also called after a failed block before the codec is used again.
    virtual Status Reset() = 0;

    // Decodes one block. in: inSize bytes (at most CODEC_INPUT_MAX) followed
    // by CODEC_INPUT_PADDING zero bytes. out: room for exactly outSize bytes
    // (1..CODEC_OUTPUT_MAX, the block's cbUncomp), all of which are written on
    // Ok. A block that decodes to more or fewer bytes is BadData; so is any
    // reference before the start of the folder's output. Never reads or
    // writes outside the two buffers, whatever the input.
    virtual Status DecodeBlock(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t outSize) = 0;
};

// Factories. Each returns NULL with *status set on failure (NoMemory, or
// BadCompression for a window outside the format's range); the codec is
// destroyed with alloc.Delete(codec). typeCompress is the CFFOLDER word.
CCodec *CreateMszip(const Allocator &alloc, Status *status);
CCodec *CreateLzx(const Allocator &alloc, unsigned windowBits, Status *status);    // windowBits 15..21
CCodec *CreateQuantum(const Allocator &alloc, unsigned level, unsigned windowBits, // windowBits 10..21
                      Status *status);

} // namespace Fdi
