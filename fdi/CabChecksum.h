// The CFDATA checksum, shared by the decoder (fdi/BlockReader.cpp) and the
// cabinet writer (tools/cabwriter), header-only so that the Windows builds,
// which have no decoder, use the same code.
//
// Format notes: the sum is the XOR of the data read as little-endian 32-bit
// words; a tail of one to three bytes forms one more word with its first
// byte highest (not little-endian, unlike the words before it). A CFDATA
// header stores the sum of its payload continued over the four bytes of
// cbData and cbUncomp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fdi/CabFormat.h"

namespace Fdi {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the 64-bit checksum fold assumes a little-endian host");

// XOR of the little-endian 64-bit words of data (size / 8 of them). XOR is
// associative, so any grouping gives the same result: with SSE2 four
// independent 16-byte accumulators keep the loads flowing.
inline uint64_t FoldChecksumWords(const uint8_t *data, size_t size)
{
    size_t i = 0;
    uint64_t wide = 0;
#if defined(__SSE2__)
    __m128i a = _mm_setzero_si128(), b = a, c = a, d = a;
    for (; i + 64 <= size; i += 64) {
        a = _mm_xor_si128(a, _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i)));
        b = _mm_xor_si128(b, _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + 16)));
        c = _mm_xor_si128(c, _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + 32)));
        d = _mm_xor_si128(d, _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + 48)));
    }
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), _mm_xor_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d)));
    wide = lanes[0] ^ lanes[1];
#endif
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        wide ^= word;
    }
    return wide;
}

// The checksum of size bytes of data, continuing from seed (0 to start).
inline uint32_t CabChecksum(const uint8_t *data, size_t size, uint32_t seed)
{
    // The two halves of a little-endian 64-bit word are two 32-bit words.
    const uint64_t wide = FoldChecksumWords(data, size);
    uint32_t sum = seed ^ uint32_t(wide) ^ uint32_t(wide >> 32);
    size_t i = size / 8 * 8;
    if (i + 4 <= size) {
        sum ^= Le32(data + i);
        i += 4;
    }
    uint32_t tail = 0;
    for (; i < size; ++i) {
        tail = tail << 8 | data[i];
    }
    return sum ^ tail;
}

} // namespace Fdi
