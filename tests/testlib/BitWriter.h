// Bit writer and Quantum encoder for hand-built LZX and Quantum test streams.
//
// CLzxBitWriter lays bits out the way LZX reads them: most significant bit
// first, packed into 16-bit little-endian words. CQuantumEncoder is a small
// Quantum compressor: an arithmetic coder with the format's adaptive models
// (written independently of the decoder's), enough to turn a list of
// literals and matches into valid blocks, or into deliberately bad ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace TestLib {

class CLzxBitWriter {
public:
    // Appends the low `count` bits of value (count 0..32), highest first.
    void Put(uint32_t value, unsigned count);
    // Zero bits up to the next 16-bit boundary (none when already there).
    void AlignToWord();
    bool IsAligned() const { return m_PendingBits == 0; }
    // Appends bytes unchanged; requires IsAligned(). Later bits form words
    // starting right after them, whatever the byte count.
    void PutBytes(const std::vector<uint8_t> &bytes);
    // Bits written since the last Take.
    size_t BitCount() const { return m_Bytes.size() * 8 + m_PendingBits; }
    // Aligns, returns everything written and starts empty.
    std::vector<uint8_t> Take();

private:
    std::vector<uint8_t> m_Bytes;
    uint32_t m_Pending = 0;     // bits of the unfinished word, first bit highest
    unsigned m_PendingBits = 0; // 0..15
};

// Quantum offset and length slots as the encoder sees them.
struct QuantumSlot {
    unsigned Slot;
    uint32_t Extra;     // value of the extra bits
    unsigned ExtraBits; // how many extra bits
};
// Slot of a match offset (1 .. 2^21) or of a selector-6 length (5 .. 259).
QuantumSlot QuantumOffsetSlot(uint32_t offset);
QuantumSlot QuantumLengthSlot(uint32_t length);

class CQuantumEncoder {
public:
    // Models for a window of 2^windowBits bytes (10..21).
    explicit CQuantumEncoder(unsigned windowBits);

    void Literal(uint8_t byte);
    void Literals(const std::vector<uint8_t> &bytes);
    // A match of `length` bytes from `offset` back: selector 4 for length 3,
    // 5 for length 4, 6 for 5..259. The offset must fit the chosen slot
    // model (the caller makes bad streams on purpose by asking for more).
    void Match(uint32_t offset, uint32_t length);

    // Low-level pieces, for streams the high-level calls would not make.
    enum ModelId {
        Selector,
        Literal0,
        Literal1,
        Literal2,
        Literal3,
        Match3,
        Match4,
        MatchLong,
        Length
    };
    void EncodeSymbol(ModelId model, unsigned symbol);
    void RawBits(uint32_t value, unsigned count);

    // Ends the block: flushes the coder so the decoder's 16-bit look-ahead
    // stays inside the block, pads to a byte and appends `trailingZeros`
    // zero bytes. The next block restarts the coder; models carry on.
    std::vector<uint8_t> FinishBlock(unsigned trailingZeros = 0);

private:
    struct Model {
        std::vector<unsigned> Symbols; // entry -> symbol
        std::vector<unsigned> Cum;     // Cum[i]: frequency of entries i..n-1; one extra 0
        unsigned SortCountdown = 4;
    };
    struct Insert {
        size_t At; // coder-bit index the raw bits follow
        uint32_t Value;
        unsigned Count;
    };
    static Model MakeModel(unsigned first, unsigned count);
    static void Adapt(Model &model, size_t entry);
    void ShiftOut(unsigned bit);

    Model m_Models[9];
    uint32_t m_Low = 0;
    uint32_t m_High = 0xFFFF;
    size_t m_Shifts = 0;              // renormalisation shifts of this block
    size_t m_Underflow = 0;           // underflow bits waiting for the next decided bit
    std::vector<uint8_t> m_CoderBits; // decided coder bits of this block, 0 or 1
    std::vector<Insert> m_Inserts;    // raw bits and where the decoder meets them
};

} // namespace TestLib
