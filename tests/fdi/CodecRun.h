// Runs the LZX and Quantum codecs over lists of CFDATA payloads in tests.
//
// Blocks are copied into buffers followed by the zero padding the codec
// contract promises (and no more, so ASan sees any read beyond it), memory
// comes from counting callbacks, and the codec is destroyed before the
// result is returned, so every test also checks that nothing leaks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fdi/Codec.h"
#include "tests/testlib/LzxWriter.h"

namespace CodecTest {

using Blocks = std::vector<std::vector<uint8_t>>;

inline int g_LiveAllocations = 0;

inline void *CountingAlloc(uint32_t size)
{
    ++g_LiveAllocations;
    return std::malloc(size);
}
inline void CountingFree(void *block)
{
    --g_LiveAllocations;
    std::free(block);
}
inline const Fdi::Allocator &TestAllocator()
{
    static const Fdi::Allocator allocator{CountingAlloc, CountingFree};
    return allocator;
}

struct Decoded {
    Fdi::Status Status = Fdi::Status::Ok; // of the first failing call, else Ok
    size_t FailedBlock = 0;               // index of that block
    std::vector<uint8_t> Output;          // the blocks decoded before it
};

// Decodes blocks[i] to sizes[i] bytes each, stopping at the first failure.
inline Decoded RunBlocks(Fdi::CCodec &codec, const Blocks &blocks, const std::vector<uint32_t> &sizes)
{
    Decoded result;
    for (size_t i = 0; i < blocks.size(); ++i) {
        std::vector<uint8_t> in(blocks[i]);
        const uint32_t inSize = static_cast<uint32_t>(in.size());
        in.resize(in.size() + Fdi::CODEC_INPUT_PADDING, 0);
        std::vector<uint8_t> out(sizes.at(i));
        result.Status = codec.DecodeBlock(in.data(), inSize, out.data(), sizes[i]);
        if (result.Status != Fdi::Status::Ok) {
            result.FailedBlock = i;
            return result;
        }
        result.Output.insert(result.Output.end(), out.begin(), out.end());
    }
    return result;
}

// Creates a codec for one run (window bits, and the Quantum level 0).
enum class Method {
    Lzx,
    Quantum
};
inline Fdi::CCodec *Create(Method method, unsigned windowBits)
{
    Fdi::Status status;
    return method == Method::Lzx ? Fdi::CreateLzx(TestAllocator(), windowBits, &status)
                                 : Fdi::CreateQuantum(TestAllocator(), 0, windowBits, &status);
}

// One folder through a fresh codec, destroyed afterwards.
inline Decoded Decode(Method method, unsigned windowBits, const Blocks &blocks, const std::vector<uint32_t> &sizes)
{
    Fdi::CCodec *codec = Create(method, windowBits);
    if (!codec) {
        Decoded failed;
        failed.Status = Fdi::Status::BadCompression;
        return failed;
    }
    Decoded result = RunBlocks(*codec, blocks, sizes);
    TestAllocator().Delete(codec);
    return result;
}

using CExpected = TestLib::CLzExpected;
inline std::vector<uint32_t> FrameSizes(size_t total)
{
    return TestLib::LzFrameSizes(total);
}

} // namespace CodecTest
