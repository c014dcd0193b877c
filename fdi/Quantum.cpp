// Quantum folder codec: an adaptive arithmetic coder over LZ77 symbols.
//
// Format notes:
//
// - Coder. 16-bit registers H (high), L (low) and C (code). Each CFDATA
//   block restarts the coder: H = 0xFFFF, L = 0, C = the block's first 16
//   bits. To decode from a model: range = H - L + 1; the target
//   ((C - L + 1) * total - 1) / range selects the entry whose cumulative
//   range holds it; then H = L + Cum[i] * range / total - 1 and
//   L = L + Cum[i + 1] * range / total (integer division, old L and range).
//   Renormalise: while the top bits of L and H agree, or L = 01... and
//   H = 10... (underflow: flip bit 14 of C, clear it in L, set it in H),
//   shift L left, H left with a 1, C left with the next input bit.
// - Models (QuantumModel.h) persist across the blocks of a folder. A
//   selector model of 7 symbols picks: 0-3 a literal from one of four
//   64-symbol models (bytes 0-63, 64-127, 128-191, 192-255); 4 a match of
//   length 3 and 5 one of length 4, each with its own position-slot model;
//   6 a longer match whose length comes from a 27-symbol model, with a
//   third slot model. The slot models have min(2w, 24), min(2w, 36) and 2w
//   symbols for a window of 2^w bytes.
// - Raw bits. Extra bits of a length or offset slot are read straight from
//   the input at the point the coder has reached (16 bits ahead of the
//   arithmetic position), MSB first.
// - Frames. Output comes in frames of 32768 bytes, one per CFDATA block.
//   The encoder pads each block to a byte boundary and may append up to
//   four zero bytes; the decoder ignores what follows the frame's last
//   symbol, but must not need more bits than the block holds.
// - Window. Offsets reach back at most the window size, so a window smaller
//   than a frame wraps inside the frame.
//
// Microsoft never described Quantum; what is written above is what decodes
// real cabinets. The one public Quantum folder (mszip_lzx_qtm.cab, see
// FdiCorpusTest and FdiLzxQuantumTest) is too short to rescale a model, so
// the rescaling schedule and the exchange sort are pinned by streams that
// cabextract decodes the same (QuantumStream: ModelsCarryAcrossBlocks*).
// Trailing zero bytes are accepted in any number from 0 to 4
// (QuantumStream: TrailingPadding*).
#include <cstring>

#include "fdi/BitReader.h"
#include "fdi/Codec.h"
#include "fdi/LzxQuantumWindow.h"
#include "fdi/QuantumModel.h"
#include "fdi/Reason.h"

namespace Fdi {

namespace {

constexpr unsigned QTM_MIN_WINDOW_BITS = 10;
constexpr unsigned QTM_MAX_WINDOW_BITS = 21;
constexpr uint32_t QTM_FRAME_SIZE = 32768;
constexpr unsigned QTM_SLOTS = 42; // slots of the 2 MiB window
constexpr unsigned QTM_LENGTH_SLOTS = 27;

// Offset slots: extra = max(slot - 2, 0) / 2 bits, base = sum of 2^extra
// before. Length slots: extra = max(slot - 2, 0) / 4 bits for slots 0-25;
// slot 26 is the single length 254 (+ 5).
struct QuantumTables {
    uint8_t OffsetExtra[QTM_SLOTS];
    uint32_t OffsetBase[QTM_SLOTS];
    uint8_t LengthExtra[QTM_LENGTH_SLOTS];
    uint16_t LengthBase[QTM_LENGTH_SLOTS];
};

constexpr QuantumTables MakeQuantumTables()
{
    QuantumTables tables{};
    uint32_t base = 0;
    for (unsigned slot = 0; slot < QTM_SLOTS; ++slot) {
        const unsigned extra = (slot < 2 ? 0 : slot - 2) / 2;
        tables.OffsetExtra[slot] = static_cast<uint8_t>(extra);
        tables.OffsetBase[slot] = base;
        base += 1u << extra;
    }
    base = 0;
    for (unsigned slot = 0; slot + 1 < QTM_LENGTH_SLOTS; ++slot) {
        const unsigned extra = (slot < 2 ? 0 : slot - 2) / 4;
        tables.LengthExtra[slot] = static_cast<uint8_t>(extra);
        tables.LengthBase[slot] = static_cast<uint16_t>(base);
        base += 1u << extra;
    }
    tables.LengthExtra[QTM_LENGTH_SLOTS - 1] = 0;
    tables.LengthBase[QTM_LENGTH_SLOTS - 1] = 254;
    return tables;
}

constexpr QuantumTables TABLES = MakeQuantumTables();
static_assert(TABLES.OffsetBase[QTM_SLOTS - 1] + (1u << TABLES.OffsetExtra[QTM_SLOTS - 1]) == 1u << 21,
              "the last offset slot must end at the largest window");
static_assert(TABLES.LengthBase[25] + (1u << TABLES.LengthExtra[25]) == 254,
              "length slots must run up to the single length 254");

class CQuantumDecoder final : public CCodec {
public:
    CQuantumDecoder(const Allocator &alloc, unsigned windowBits, uint8_t *window)
        : m_Alloc(alloc), m_Window(window), m_WindowBits(windowBits), m_WindowMask((1u << windowBits) - 1)
    {
        Reset();
    }
    ~CQuantumDecoder() override { m_Alloc.Free(m_Window); }
    CQuantumDecoder(const CQuantumDecoder &) = delete;
    CQuantumDecoder &operator=(const CQuantumDecoder &) = delete;

    Status Reset() override
    {
        const unsigned slots = 2 * m_WindowBits;
        for (unsigned i = 0; i < 4; ++i) {
            m_Literals[i].Init(64 * i, 64);
        }
        m_Match3.Init(0, slots < 24 ? slots : 24);
        m_Match4.Init(0, slots < 36 ? slots : 36);
        m_MatchLong.Init(0, slots);
        m_Length.Init(0, QTM_LENGTH_SLOTS);
        m_Selector.Init(0, 7);
        m_Pos = 0;
        m_Filled = 0;
        m_Failed = false;
        return Status::Ok;
    }

    Status DecodeBlock(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t outSize) override;

private:
    unsigned DecodeSymbol(CQuantumModel &model);
    uint32_t DecodeOffset(CQuantumModel &model)
    {
        const unsigned slot = DecodeSymbol(model);
        return TABLES.OffsetBase[slot] + m_Bits.Read(TABLES.OffsetExtra[slot]) + 1;
    }
    // A bad block: the codec refuses every block until the next Reset.
    Status Reject(const char *reason)
    {
        m_Failed = true;
        return Fail(Status::BadData, reason);
    }

    Allocator m_Alloc;
    uint8_t *m_Window;
    unsigned m_WindowBits;
    uint32_t m_WindowMask;
    uint32_t m_Pos = 0;    // window position of the next output byte
    uint32_t m_Filled = 0; // bytes of folder output in the window (up to its size)
    bool m_Failed = false; // bad data seen; only Reset helps

    // Coder state of the current block.
    CQuantumBitReader m_Bits;
    uint32_t m_High = 0;
    uint32_t m_Low = 0;
    uint32_t m_Code = 0;

    CQuantumModel m_Literals[4];
    CQuantumModel m_Match3;
    CQuantumModel m_Match4;
    CQuantumModel m_MatchLong;
    CQuantumModel m_Length;
    CQuantumModel m_Selector;
};

unsigned CQuantumDecoder::DecodeSymbol(CQuantumModel &model)
{
    // 1. Find the entry. L <= H always holds (see the renormalisation), and
    //    the model total stays far below the range, so every step below is
    //    exact in 32 bits; only corrupt input makes C leave [L, H].
    const uint32_t range = m_High - m_Low + 1;
    const uint32_t total = model.Total();
    const uint32_t target = ((((m_Code - m_Low) & 0xFFFF) + 1) * total - 1) / range;
    const unsigned entry = model.Find(target);
    const unsigned symbol = model.SymbolAt(entry);

    // 2. Narrow the interval to the entry's share.
    m_High = m_Low + model.Cum(entry) * range / total - 1;
    m_Low = m_Low + model.Cum(entry + 1) * range / total;
    model.Update(entry);

    // 3. Renormalise until L and H differ in the top bit, outside the
    //    underflow pattern; at most 16 shifts, as each one widens H - L.
    for (;;) {
        if ((m_Low ^ m_High) & 0x8000) {
            if (!((m_Low & 0x4000) && !(m_High & 0x4000))) {
                break;
            }
            m_Code ^= 0x4000;
            m_Low &= 0x3FFF;
            m_High |= 0x4000;
        }
        m_Low = (m_Low << 1) & 0xFFFF;
        m_High = ((m_High << 1) | 1) & 0xFFFF;
        m_Code = ((m_Code << 1) | m_Bits.Read(1)) & 0xFFFF;
    }
    return symbol;
}

Status CQuantumDecoder::DecodeBlock(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t outSize)
{
    if (m_Failed) {
        return Reject("a Quantum block after a bad one, without a reset");
    }
    if (outSize == 0 || outSize > QTM_FRAME_SIZE || inSize > CODEC_INPUT_MAX) {
        return Reject("a Quantum block size out of range");
    }
    // 1. Restart the coder on the block's first bits.
    m_Bits.Init(in, inSize);
    m_High = 0xFFFF;
    m_Low = 0;
    m_Code = m_Bits.Read(16);

    // 2. Decode symbols until the frame is full. Literals and match bytes go
    //    to the window (the history) and to the caller's buffer.
    const uint32_t windowSize = m_WindowMask + 1;
    uint32_t produced = 0;
    while (produced < outSize) {
        // A block whose bits ran out cannot end well; stop at once rather
        // than decode the rest of the frame from zero bits.
        if (m_Bits.HasOverrun()) {
            return Reject("Quantum data ends before its frame is full");
        }
        const unsigned selector = DecodeSymbol(m_Selector);
        if (selector < 4) {
            const uint8_t byte = static_cast<uint8_t>(DecodeSymbol(m_Literals[selector]));
            m_Window[m_Pos] = byte;
            m_Pos = (m_Pos + 1) & m_WindowMask;
            out[produced++] = byte;
            continue;
        }
        uint32_t length;
        uint32_t offset;
        if (selector == 4) {
            length = 3;
            offset = DecodeOffset(m_Match3);
        } else if (selector == 5) {
            length = 4;
            offset = DecodeOffset(m_Match4);
        } else {
            const unsigned slot = DecodeSymbol(m_Length);
            length = TABLES.LengthBase[slot] + m_Bits.Read(TABLES.LengthExtra[slot]) + 5u;
            offset = DecodeOffset(m_MatchLong);
        }
        // A match may neither pass the frame end nor reach before the
        // folder's first byte.
        const uint32_t available = m_Filled + produced < windowSize ? m_Filled + produced : windowSize;
        if (length > outSize - produced) {
            return Reject("a Quantum match beyond the frame end");
        }
        if (offset > available) {
            return Reject("a Quantum match offset beyond the window");
        }
        uint32_t src = (m_Pos - offset) & m_WindowMask;
        for (uint32_t i = 0; i < length; ++i) {
            const uint8_t byte = m_Window[src];
            m_Window[m_Pos] = byte;
            out[produced++] = byte;
            src = (src + 1) & m_WindowMask;
            m_Pos = (m_Pos + 1) & m_WindowMask;
        }
    }

    // 3. The coder may look ahead into the block's padding, but never past
    //    the block.
    if (m_Bits.HasOverrun()) {
        return Reject("Quantum data reads past its block");
    }
    m_Filled = m_Filled + outSize < windowSize ? m_Filled + outSize : windowSize;
    return Status::Ok;
}

} // namespace

CCodec *CreateQuantum(const Allocator &alloc, unsigned level, unsigned windowBits, Status *status)
{
    // The level only tells how hard the encoder searched; decoding ignores it.
    (void)level;
    if (windowBits < QTM_MIN_WINDOW_BITS || windowBits > QTM_MAX_WINDOW_BITS) {
        *status = Fail(Status::BadCompression, "a Quantum window outside 10..21 bits");
        return nullptr;
    }
    return CreateWithWindow<CQuantumDecoder>(alloc, 1u << windowBits, windowBits, status);
}

} // namespace Fdi
