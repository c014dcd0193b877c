// Bit output in LZX order: the most significant bit first, packed into
// 16-bit little-endian words.
#pragma once

#include <cstdint>
#include <vector>

namespace Selfex {

class CLzxBitWriter {
public:
    // Appends to out, which the writer does not own; out must outlive it.
    explicit CLzxBitWriter(std::vector<uint8_t> &out) : m_Out(out) {}

    // Appends the low count bits of value (count 0..32), highest first.
    void Put(uint32_t value, unsigned count)
    {
        m_Pending = m_Pending << count | value;
        m_PendingBits += count;
        while (m_PendingBits >= 16) {
            m_PendingBits -= 16;
            const uint32_t word = static_cast<uint32_t>(m_Pending >> m_PendingBits);
            m_Out.push_back(static_cast<uint8_t>(word));
            m_Out.push_back(static_cast<uint8_t>(word >> 8));
        }
        m_Pending &= (uint64_t{1} << m_PendingBits) - 1;
    }

    // Zero bits up to the next 16-bit boundary (none when already there).
    void AlignToWord()
    {
        if (m_PendingBits != 0) {
            Put(0, 16 - m_PendingBits);
        }
    }
    bool IsAligned() const { return m_PendingBits == 0; }

    // Raw bytes; only on a word boundary. Later bits form words right after
    // them, whatever the byte count.
    void PutBytes(const uint8_t *data, uint32_t size) { m_Out.insert(m_Out.end(), data, data + size); }

private:
    std::vector<uint8_t> &m_Out;
    uint64_t m_Pending = 0;     // bits of the unfinished word, the first one highest
    unsigned m_PendingBits = 0; // 0..15 between calls
};

} // namespace Selfex
