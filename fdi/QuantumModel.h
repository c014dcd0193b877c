// Adaptive frequency model of the Quantum codec.
//
// Format notes: a model keeps its symbols in an array ordered by the
// cumulative frequency that follows each entry: Cum[i] is the total
// frequency of entries i..n-1, so Cum[0] is the model total and a sentinel
// Cum[n] = 0 closes the array. A model of n symbols starting at `first`
// begins as symbols first..first+n-1 with frequency 1 each. Every decoded
// symbol adds 8 to its own frequency (to Cum[0..i]). When the total passes
// 3800 the model is rescaled. The fourth rescale and every 50th after it
// convert to plain frequencies, halve them (rounding up), re-sort the
// entries by falling frequency and sum again; all others halve the
// cumulative values in place, keeping them strictly falling. The re-sort
// must be the exact exchange sort the encoder used, or equal frequencies
// end up in a different order.
#pragma once

#include <cstdint>

namespace Fdi {

class CQuantumModel {
public:
    static constexpr unsigned MAX_SYMBOLS = 64; // the literal models
    static constexpr uint32_t RESCALE_ABOVE = 3800;
    static constexpr uint32_t INCREMENT = 8;

    // Symbols first .. first + count - 1; count in 1..MAX_SYMBOLS.
    void Init(unsigned first, unsigned count)
    {
        m_Count = count;
        m_RescalesUntilSort = 4;
        for (unsigned i = 0; i <= count; ++i) {
            m_Symbol[i] = static_cast<uint16_t>(first + i);
            m_Cum[i] = static_cast<uint16_t>(count - i);
        }
    }

    unsigned Count() const { return m_Count; }
    uint32_t Total() const { return m_Cum[0]; }
    // Cumulative frequency after entry i (i in 0..Count()); Cum(Count()) = 0.
    uint32_t Cum(unsigned i) const { return m_Cum[i]; }
    unsigned SymbolAt(unsigned i) const { return m_Symbol[i]; }

    // The entry whose range holds `target` (a value below Total()): the
    // first i with Cum(i + 1) <= target. Targets at or above Total() (only
    // from corrupt input) give entry 0.
    unsigned Find(uint32_t target) const
    {
        unsigned i = 1;
        while (i < m_Count && m_Cum[i] > target) {
            ++i;
        }
        return i - 1;
    }

    // Counts one more use of entry i and rescales when due.
    void Update(unsigned i)
    {
        for (unsigned j = 0; j <= i; ++j) {
            m_Cum[j] = static_cast<uint16_t>(m_Cum[j] + INCREMENT);
        }
        if (m_Cum[0] > RESCALE_ABOVE) {
            Rescale();
        }
    }

private:
    void Rescale()
    {
        if (--m_RescalesUntilSort != 0) {
            // Halve in place, from the tail so each entry can be kept above
            // the one after it.
            for (unsigned i = m_Count; i-- > 0;) {
                m_Cum[i] = static_cast<uint16_t>(m_Cum[i] >> 1);
                if (m_Cum[i] <= m_Cum[i + 1]) {
                    m_Cum[i] = static_cast<uint16_t>(m_Cum[i + 1] + 1);
                }
            }
            return;
        }
        m_RescalesUntilSort = 50;
        // Frequencies, halved with rounding up so none drops to zero.
        for (unsigned i = 0; i < m_Count; ++i) {
            m_Cum[i] = static_cast<uint16_t>((m_Cum[i] - m_Cum[i + 1] + 1) >> 1);
        }
        // Exchange sort, falling frequency; unstable in the encoder's way.
        for (unsigned i = 0; i + 1 < m_Count; ++i) {
            for (unsigned j = i + 1; j < m_Count; ++j) {
                if (m_Cum[i] < m_Cum[j]) {
                    Swap(i, j);
                }
            }
        }
        for (unsigned i = m_Count; i-- > 0;) {
            m_Cum[i] = static_cast<uint16_t>(m_Cum[i] + m_Cum[i + 1]);
        }
    }

    void Swap(unsigned i, unsigned j)
    {
        const uint16_t symbol = m_Symbol[i];
        const uint16_t cum = m_Cum[i];
        m_Symbol[i] = m_Symbol[j];
        m_Cum[i] = m_Cum[j];
        m_Symbol[j] = symbol;
        m_Cum[j] = cum;
    }

    unsigned m_Count = 0;
    unsigned m_RescalesUntilSort = 4;
    uint16_t m_Symbol[MAX_SYMBOLS + 1] = {};
    uint16_t m_Cum[MAX_SYMBOLS + 1] = {};
};

} // namespace Fdi
