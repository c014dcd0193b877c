// LZX and Quantum folders for cabinet tests: hand-built streams of a given
// size with the bytes they decode to, and the CFFOLDER words that announce
// them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/testlib/CabBuilder.h"

namespace TestLib {

inline uint16_t LzxType(unsigned windowBits)
{
    return static_cast<uint16_t>(3 | windowBits << 8);
}
inline uint16_t QuantumType(unsigned level, unsigned windowBits)
{
    return static_cast<uint16_t>(2 | level << 4 | windowBits << 8);
}

// The CFDATA payloads of one folder, their output sizes and the bytes they
// stand for.
struct LzFolder {
    std::vector<std::vector<uint8_t>> Blocks;
    std::vector<uint32_t> Sizes;
    std::vector<uint8_t> Data;
};

// An LZX folder of `size` bytes: a frame of raw bytes (an uncompressed
// block), then frames of matches reaching back across frames (and, for
// small windows, across the window's end) in one verbatim or aligned-offset
// block. Each frame is its own CFDATA block. seed varies the content.
LzFolder MakeLzxFolder(unsigned windowBits, uint32_t size, uint32_t seed, bool aligned = false);
// A Quantum folder of `size` bytes: mostly literals, and matches of every
// selector, framed in 32 KiB, each block followed by seed % 5 zero bytes.
LzFolder MakeQuantumFolder(unsigned windowBits, uint32_t size, uint32_t seed);
// Adds a raw folder of type typeCompress holding `folder`, cut into files
// of the given names and sizes.
void AddLzFolder(CCabBuilder &builder, uint16_t typeCompress, const LzFolder &folder,
                 const std::vector<std::string> &names, const std::vector<uint32_t> &sizes);

} // namespace TestLib
