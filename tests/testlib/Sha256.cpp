// SHA-256 (FIPS 180-4) for test code.
#include "tests/testlib/Sha256.h"

#include <cstring>

namespace TestLib {

namespace {

// First 32 bits of the fractional parts of the cube roots of the first 64
// primes.
constexpr uint32_t ROUND_CONSTANTS[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t RotateRight(uint32_t value, unsigned count)
{
    return (value >> count) | (value << (32 - count));
}

} // namespace

CSha256::CSha256()
    : m_State{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}, m_Block{}
{
}

void CSha256::Compress(const uint8_t *block)
{
    uint32_t schedule[64];
    for (int i = 0; i < 16; ++i) {
        schedule[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
                      uint32_t(block[4 * i + 2]) << 8 | uint32_t(block[4 * i + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = RotateRight(schedule[i - 15], 7) ^ RotateRight(schedule[i - 15], 18) ^ (schedule[i - 15] >> 3);
        uint32_t s1 = RotateRight(schedule[i - 2], 17) ^ RotateRight(schedule[i - 2], 19) ^ (schedule[i - 2] >> 10);
        schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
    }
    uint32_t a = m_State[0], b = m_State[1], c = m_State[2], d = m_State[3];
    uint32_t e = m_State[4], f = m_State[5], g = m_State[6], h = m_State[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        uint32_t choose = (e & f) ^ (~e & g);
        uint32_t t1 = h + sum1 + choose + ROUND_CONSTANTS[i] + schedule[i];
        uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        uint32_t t2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_State[0] += a;
    m_State[1] += b;
    m_State[2] += c;
    m_State[3] += d;
    m_State[4] += e;
    m_State[5] += f;
    m_State[6] += g;
    m_State[7] += h;
}

void CSha256::Update(const void *data, size_t size)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    m_TotalBytes += size;
    while (size > 0) {
        size_t take = sizeof(m_Block) - m_BlockUsed;
        if (take > size) {
            take = size;
        }
        std::memcpy(m_Block + m_BlockUsed, bytes, take);
        m_BlockUsed += take;
        bytes += take;
        size -= take;
        if (m_BlockUsed == sizeof(m_Block)) {
            Compress(m_Block);
            m_BlockUsed = 0;
        }
    }
}

std::array<uint8_t, 32> CSha256::Finish()
{
    uint64_t bitCount = m_TotalBytes * 8;
    // A single 0x80 byte, zeros up to 56 bytes into a block, then the
    // message length in bits as a big-endian 64-bit number.
    uint8_t padding[72] = {0x80};
    size_t padLength = (m_BlockUsed < 56 ? 56 : 120) - m_BlockUsed;
    for (int i = 0; i < 8; ++i) {
        padding[padLength + size_t(i)] = uint8_t(bitCount >> (56 - 8 * i));
    }
    Update(padding, padLength + 8);
    std::array<uint8_t, 32> digest{};
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest[size_t(4 * i + j)] = uint8_t(m_State[i] >> (24 - 8 * j));
        }
    }
    return digest;
}

std::string CSha256::HexDigest()
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : Finish()) {
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 15];
    }
    return text;
}

std::string Sha256Hex(const void *data, size_t size)
{
    CSha256 hash;
    hash.Update(data, size);
    return hash.HexDigest();
}

} // namespace TestLib
