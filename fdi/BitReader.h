// Bit reader shared by the LZX and Quantum codecs.
//
// Format notes: both codecs take bits from the top of their input units
// (MSB-first). Quantum reads plain bytes, bit 7 first. LZX groups the
// stream into 16-bit little-endian words, so the byte pair 0x34 0x12 yields
// the bits of 0x1234 from bit 15 down: the LZX codec exchanges the two
// bytes of every word first (Lzx.cpp), which turns its stream into plain
// bytes too, so that refills need no reordering of words.
//
// The reader keeps up to 64 bits left-aligned in a 64-bit buffer (the next
// bit is bit 63) and refills whole bytes with one unaligned 8-byte load. The
// input must be followed by CODEC_INPUT_PADDING zero bytes (Codec.h): loads
// may look past the real end, where the padding supplies zero bits. Reading
// past the end is not an error at the moment it happens; the codec asks
// HasOverrun() once at the end of a block, which is cheaper than a bounds
// check per read and gives the same answer.
#pragma once

#include <cstdint>
#include <cstring>

#include "fdi/Codec.h"

namespace Fdi {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the refill assumes a little-endian host");

class CBitReader {
public:
    // Bits guaranteed in the buffer after Refill(). The buffer never holds
    // all 64, which keeps every shift in range.
    static constexpr unsigned BITS_AFTER_REFILL = 56;
    // Refill loads 8 bytes at a pointer that may run this far past the end.
    static_assert(CODEC_INPUT_PADDING >= 16, "the reader loads up to 16 bytes past the input");

    // Starts reading data[offset..size). data must stay valid, followed by
    // CODEC_INPUT_PADDING readable zero bytes; offset may equal size.
    void Init(const uint8_t *data, uint32_t size, uint32_t offset = 0)
    {
        m_Start = data;
        m_End = data + size;
        m_Next = data + (offset <= size ? offset : size);
        m_Buffer = 0;
        m_Count = 0;
        m_Clamped = false;
    }

    // Tops the buffer up to at least BITS_AFTER_REFILL bits, without a
    // branch on the count (decoding loops refill before every symbol, and
    // could not predict one). Never fails: past the end of the input the
    // bits are zero.
    void Refill()
    {
        // Once loads would start beyond the padding the data is exhausted
        // anyway; keep loading zeros from inside the padding and remember it.
        if (__builtin_expect(m_Next > m_End + 8, 0)) {
            m_Next = m_End + 8;
            m_Clamped = true;
        }
        uint64_t raw;
        std::memcpy(&raw, m_Next, sizeof raw);
        // OR-ing a whole 64-bit load is safe: bits below the bytes that are
        // counted are either zero or the same stream bits the next refill
        // brings again.
        m_Buffer |= __builtin_bswap64(raw) >> m_Count;
        // Whole bytes up to 63 bits: the count keeps its bits below a byte
        // and gets all bits from 8 up (63 - count is count ^ 63).
        m_Next += (m_Count ^ 63u) / 8;
        m_Count = static_cast<uint8_t>(m_Count | 56u);
    }

    // The next n bits (1..32) as a number, first bit highest. Requires
    // Count() >= n.
    uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(m_Buffer >> (64 - n)); }
    // Discards n buffered bits (0..Count()).
    void Skip(unsigned n)
    {
        m_Buffer <<= n;
        m_Count = static_cast<uint8_t>(m_Count - n);
    }
    // Discards the bits of a decoding-table entry whose low 5 bits are the
    // code length and bits 5-7 zero; the bits above are ignored (the count
    // is 8 bits wide, so subtracting the whole entry leaves it right).
    void SkipCode(uint32_t entry)
    {
        m_Buffer <<= entry & 63;
        m_Count = static_cast<uint8_t>(m_Count - entry);
    }
    // Peek and Skip together; n may be 0 (yields 0). Requires Count() >= n.
    uint32_t Take(unsigned n)
    {
        const uint32_t value = static_cast<uint32_t>((m_Buffer >> 1) >> (63 - n));
        Skip(n);
        return value;
    }
    // Reads n bits (0..32), refilling first when needed.
    uint32_t Read(unsigned n)
    {
        if (m_Count < n) {
            Refill();
        }
        return Take(n);
    }

    // The buffered bits, left-aligned; for table lookups.
    uint64_t Buffer() const { return m_Buffer; }
    unsigned Count() const { return m_Count; }

    // Bits consumed from the start of the data given to Init (meaningless
    // once HasOverrun()).
    uint64_t Position() const { return static_cast<uint64_t>(m_Next - m_Start) * 8 - m_Count; }
    // True once more bits were consumed than the input holds.
    bool HasOverrun() const { return m_Clamped || Position() > static_cast<uint64_t>(m_End - m_Start) * 8; }

private:
    const uint8_t *m_Start = nullptr;
    const uint8_t *m_End = nullptr;
    const uint8_t *m_Next = nullptr; // where the next refill loads from
    uint64_t m_Buffer = 0;           // buffered bits, next bit at bit 63
    uint8_t m_Count = 0;             // how many bits of m_Buffer are valid
    bool m_Clamped = false;          // loads were held back inside the padding
};

using CQuantumBitReader = CBitReader;

} // namespace Fdi
