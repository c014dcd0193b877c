// Bit writer and Quantum encoder for hand-built LZX and Quantum test streams.
#include "tests/testlib/BitWriter.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace TestLib {

// --- CLzxBitWriter -------------------------------------------------------

void CLzxBitWriter::Put(uint32_t value, unsigned count)
{
    assert(count <= 32 && "at most 32 bits at a time");
    for (unsigned i = count; i-- > 0;) {
        m_Pending = (m_Pending << 1) | ((value >> i) & 1);
        if (++m_PendingBits == 16) {
            m_Bytes.push_back(static_cast<uint8_t>(m_Pending));
            m_Bytes.push_back(static_cast<uint8_t>(m_Pending >> 8));
            m_Pending = 0;
            m_PendingBits = 0;
        }
    }
}

void CLzxBitWriter::AlignToWord()
{
    if (m_PendingBits != 0) {
        Put(0, 16 - m_PendingBits);
    }
}

void CLzxBitWriter::PutBytes(const std::vector<uint8_t> &bytes)
{
    assert(IsAligned() && "raw bytes start on a word boundary");
    m_Bytes.insert(m_Bytes.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> CLzxBitWriter::Take()
{
    AlignToWord();
    return std::exchange(m_Bytes, {});
}

// --- Quantum slots --------------------------------------------------------

// Offset slot s covers base(s) .. base(s) + 2^extra(s) - 1 of offset - 1,
// with extra(s) = max(s - 2, 0) / 2; length slot s (below 26) covers
// base .. base + 2^extra - 1 of length - 5 with extra = max(s - 2, 0) / 4.
namespace {

QuantumSlot SlotOf(uint32_t value, unsigned slotsPerExtraBit)
{
    uint32_t base = 0;
    for (unsigned slot = 0;; ++slot) {
        const unsigned extraBits = (slot < 2 ? 0 : slot - 2) / slotsPerExtraBit;
        if (value < base + (1u << extraBits)) {
            return {slot, value - base, extraBits};
        }
        base += 1u << extraBits;
    }
}

} // namespace

QuantumSlot QuantumOffsetSlot(uint32_t offset)
{
    return SlotOf(offset - 1, 2);
}

QuantumSlot QuantumLengthSlot(uint32_t length)
{
    return length == 259 ? QuantumSlot{26, 0, 0} : SlotOf(length - 5, 4);
}

// --- CQuantumEncoder ---------------------------------------------------------

CQuantumEncoder::Model CQuantumEncoder::MakeModel(unsigned first, unsigned count)
{
    Model model;
    for (unsigned i = 0; i < count; ++i) {
        model.Symbols.push_back(first + i);
        model.Cum.push_back(count - i);
    }
    model.Cum.push_back(0);
    return model;
}

CQuantumEncoder::CQuantumEncoder(unsigned windowBits)
{
    const unsigned slots = 2 * windowBits;
    m_Models[Selector] = MakeModel(0, 7);
    for (unsigned i = 0; i < 4; ++i) {
        m_Models[Literal0 + i] = MakeModel(64 * i, 64);
    }
    m_Models[Match3] = MakeModel(0, slots < 24 ? slots : 24);
    m_Models[Match4] = MakeModel(0, slots < 36 ? slots : 36);
    m_Models[MatchLong] = MakeModel(0, slots);
    m_Models[Length] = MakeModel(0, 27);
}

// Frequency update and rescaling, as the format defines them: +8 for the
// coded entry; past a total of 3800, halve the cumulative counts (keeping
// them strictly falling), except on the 4th and every 50th time after,
// which halve the plain frequencies (rounding up) and re-sort them
// high-to-low with an exchange sort.
void CQuantumEncoder::Adapt(Model &model, size_t entry)
{
    for (size_t i = 0; i <= entry; ++i) {
        model.Cum[i] += 8;
    }
    if (model.Cum[0] <= 3800) {
        return;
    }
    const size_t n = model.Symbols.size();
    if (--model.SortCountdown > 0) {
        for (size_t i = n; i-- > 0;) {
            model.Cum[i] = std::max(model.Cum[i] / 2, model.Cum[i + 1] + 1);
        }
        return;
    }
    model.SortCountdown = 50;
    std::vector<unsigned> freq(n);
    for (size_t i = 0; i < n; ++i) {
        freq[i] = (model.Cum[i] - model.Cum[i + 1] + 1) / 2;
    }
    for (size_t i = 0; i + 1 < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            if (freq[i] < freq[j]) {
                std::swap(freq[i], freq[j]);
                std::swap(model.Symbols[i], model.Symbols[j]);
            }
        }
    }
    for (size_t i = n; i-- > 0;) {
        model.Cum[i] = freq[i] + model.Cum[i + 1];
    }
}

void CQuantumEncoder::ShiftOut(unsigned bit)
{
    m_CoderBits.push_back(static_cast<uint8_t>(bit));
    for (; m_Underflow > 0; --m_Underflow) {
        m_CoderBits.push_back(static_cast<uint8_t>(bit ^ 1));
    }
}

void CQuantumEncoder::EncodeSymbol(ModelId id, unsigned symbol)
{
    Model &model = m_Models[id];
    size_t entry = 0;
    while (model.Symbols.at(entry) != symbol) {
        ++entry;
    }
    const uint32_t range = m_High - m_Low + 1;
    const uint32_t total = model.Cum[0];
    m_High = m_Low + model.Cum[entry] * range / total - 1;
    m_Low = m_Low + model.Cum[entry + 1] * range / total;
    Adapt(model, entry);
    for (;;) {
        if (((m_Low ^ m_High) & 0x8000) == 0) {
            ShiftOut(m_Low >> 15);
        } else if ((m_Low & 0x4000) && !(m_High & 0x4000)) {
            ++m_Underflow;
            m_Low &= 0x3FFF;
            m_High |= 0x4000;
        } else {
            break;
        }
        m_Low = (m_Low << 1) & 0xFFFF;
        m_High = ((m_High << 1) | 1) & 0xFFFF;
        ++m_Shifts;
    }
}

void CQuantumEncoder::RawBits(uint32_t value, unsigned count)
{
    // The decoder reads raw bits once its code register holds the first
    // 16 + shifts coder bits, so they go into the stream right there.
    m_Inserts.push_back({16 + m_Shifts, value, count});
}

void CQuantumEncoder::Literal(uint8_t byte)
{
    EncodeSymbol(Selector, byte >> 6);
    EncodeSymbol(static_cast<ModelId>(Literal0 + (byte >> 6)), byte);
}

void CQuantumEncoder::Literals(const std::vector<uint8_t> &bytes)
{
    for (uint8_t byte : bytes) {
        Literal(byte);
    }
}

void CQuantumEncoder::Match(uint32_t offset, uint32_t length)
{
    assert(length >= 3 && length <= 259 && "Quantum matches are 3..259 bytes");
    const QuantumSlot position = QuantumOffsetSlot(offset);
    if (length <= 4) {
        EncodeSymbol(Selector, length == 3 ? 4 : 5);
        EncodeSymbol(length == 3 ? Match3 : Match4, position.Slot);
    } else {
        const QuantumSlot lengthSlot = QuantumLengthSlot(length);
        EncodeSymbol(Selector, 6);
        EncodeSymbol(Length, lengthSlot.Slot);
        RawBits(lengthSlot.Extra, lengthSlot.ExtraBits);
        EncodeSymbol(MatchLong, position.Slot);
    }
    RawBits(position.Extra, position.ExtraBits);
}

std::vector<uint8_t> CQuantumEncoder::FinishBlock(unsigned trailingZeros)
{
    // 1. Two more bits pin a value inside [L, H]: bit 14 of L decides,
    //    with the waiting underflow bits after it.
    ++m_Underflow;
    ShiftOut((m_Low >> 14) & 1);
    // 2. Zero bits so the decoder's 16-bit look-ahead stays in the block.
    while (m_CoderBits.size() < m_Shifts + 16) {
        m_CoderBits.push_back(0);
    }
    // 3. Merge the raw bits in where the decoder reads them, pack MSB first.
    std::vector<uint8_t> bits;
    size_t next = 0;
    for (size_t i = 0; i <= m_CoderBits.size(); ++i) {
        for (; next < m_Inserts.size() && m_Inserts[next].At == i; ++next) {
            for (unsigned b = m_Inserts[next].Count; b-- > 0;) {
                bits.push_back(static_cast<uint8_t>((m_Inserts[next].Value >> b) & 1));
            }
        }
        if (i < m_CoderBits.size()) {
            bits.push_back(m_CoderBits[i]);
        }
    }
    assert(next == m_Inserts.size() && "raw bits must land inside the block");
    std::vector<uint8_t> bytes((bits.size() + 7) / 8 + trailingZeros, 0);
    for (size_t i = 0; i < bits.size(); ++i) {
        bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | bits[i] << (7 - i % 8));
    }
    // 4. Restart the coder for the next block.
    m_Low = 0;
    m_High = 0xFFFF;
    m_Shifts = 0;
    m_Underflow = 0;
    m_CoderBits.clear();
    m_Inserts.clear();
    return bytes;
}

} // namespace TestLib
