// LZX folder codec: block headers, trees, frames and the x86 call filter.
//
// Format notes (the cabinet variant of LZX):
//
// - Stream. A folder is one LZX stream over one sliding window of
//   2^windowBits bytes; it is never reset inside the folder. The stream
//   starts with one bit; when set, a 32-bit E8 translation size follows
//   (high 16 bits first). Then come blocks: a 3-bit type (1 verbatim,
//   2 aligned offset, 3 uncompressed) and a 24-bit output length read as
//   16 + 8 bits.
// - Frames. Every CFDATA block holds one frame of 32768 output bytes (the
//   folder's last may be shorter); LZX blocks run across frames, and the
//   encoder pads each frame's bits to a 16-bit boundary, so each CFDATA
//   block starts on a fresh word. A match never crosses the end of its
//   frame or its block.
// - Trees. The main tree has 256 literal symbols and 8 symbols per position
//   slot; the length tree 249 symbols. Their code lengths are sent as
//   changes against the previous block's lengths (all zero at the folder
//   start), each part through its own 20-symbol pre-tree: symbols 0-16 give
//   (old - symbol) mod 17, 17 a run of 4-19 zeros, 18 a run of 20-51 zeros,
//   19 a run of 4-5 copies of one changed length.
// - Matches. main symbol - 256 = slot << 3 | length header; length = header
//   + 2, with header 7 adding a length-tree symbol. Slots 0-2 repeat R0, R1,
//   R2 (the one used swaps with R0); slot 3 upward is offset base + extra
//   bits - 2 and pushes R0 into R1 and R1 into R2. Aligned blocks send the
//   low 3 of the extra bits (when there are 3 or more) through an 8-symbol
//   tree with 3-bit lengths, sent before the main tree.
// - Uncompressed blocks. After the header the reader moves to the next
//   16-bit boundary, skipping a whole word when it is already on one. Then
//   R0, R1, R2 as 32-bit little-endian values, the raw bytes, and one pad
//   byte after an odd length.
// - E8 filter. With a non-zero translation size, each frame below frame
//   32768 and longer than 10 bytes is scanned, up to 10 bytes before its
//   end, for 0xE8 bytes; each one's 32-bit operand, when it lies in
//   [-position, size), is turned from an absolute into a relative target.
//   The window keeps the untranslated bytes for later matches.
//
// Where Microsoft's LZX description and real cabinets disagree:
// - The uncompressed block has a length field; the description omits it.
//   (LzxStream: UncompressedBlock*)
// - The aligned tree comes before the main tree, not after it.
//   (LzxStream: AlignedBlock*)
// - With exactly 3 extra offset bits an aligned block reads only the aligned
//   symbol, no verbatim bits. (LzxStream: AlignedOffsetWithThreeExtraBits)
// - A 2 MiB window has 50 position slots and 1 MiB 42, not 42 and 40.
//   (LzxFrame: WindowSizesAndTheirLastSlot)
// - The length tree may be empty when a block has no long matches.
//   (LzxStream: EmptyLengthTree*)
// - The description leaves a frame's last 6 bytes untranslated but scans
//   for 0xE8 up to them; real decoders stop the scan 10 bytes before the
//   end, so no operand reaches into those 6 bytes. (LzxFrame: E8*)
#include <cstring>

#include "fdi/CabFormat.h"
#include "fdi/LzxDecoder.h"
#include "fdi/LzxQuantumWindow.h"
#include "fdi/Reason.h"

namespace Fdi {

namespace {

// A window of 2^bits bytes uses the slots whose base lies below its size.
unsigned SlotCount(unsigned windowBits)
{
    unsigned slots = 0;
    while (LZX_SLOTS.Slot[slots].Base < (1u << windowBits)) {
        ++slots;
    }
    return slots;
}

// Undoes the encoder's E8 filter on one frame. position: folder offset of
// data[0]; size: the translation size (non-zero).
void TranslateE8(uint8_t *data, uint32_t length, uint32_t position, int32_t size)
{
    constexpr uint32_t TAIL = 10; // the last bytes that are never scanned
    if (length <= TAIL) {
        return;
    }
    uint8_t *const end = data + length - TAIL;
    for (uint8_t *p = data; p < end;) {
        p = static_cast<uint8_t *>(std::memchr(p, 0xE8, static_cast<size_t>(end - p)));
        if (!p) {
            break;
        }
        // Positions stay below 2^30 + 2^15 (frame limit), so int64 holds
        // every sum without overflow; the result is stored modulo 2^32.
        const int64_t current = static_cast<int64_t>(position) + (p - data);
        const int64_t absolute = static_cast<int32_t>(Le32(p + 1));
        if (absolute >= -current && absolute < size) {
            const int64_t relative = absolute >= 0 ? absolute - current : absolute + size;
            const uint32_t value = static_cast<uint32_t>(relative);
            p[1] = static_cast<uint8_t>(value);
            p[2] = static_cast<uint8_t>(value >> 8);
            p[3] = static_cast<uint8_t>(value >> 16);
            p[4] = static_cast<uint8_t>(value >> 24);
        }
        p += 5;
    }
}

// Copies in[start..size) to out[start..] with the two bytes of each 16-bit
// word exchanged; words start at `start`. A last odd byte is the low half
// of a word whose high half lies past the input: it lands at out[size],
// where reading it counts as an overrun, as it would in the word order.
// out[size + 1 .. size + CODEC_INPUT_PADDING] are zero bytes.
void SwapWordBytes(const uint8_t *in, uint32_t start, uint32_t size, uint8_t *out)
{
    uint32_t i = start;
    for (; i + 8 <= size; i += 8) {
        uint64_t v;
        std::memcpy(&v, in + i, sizeof v);
        v = (v >> 8 & 0x00FF00FF00FF00FFull) | (v & 0x00FF00FF00FF00FFull) << 8;
        std::memcpy(out + i, &v, sizeof v);
    }
    for (; i < size; i += 2) {
        out[i + 1] = in[i];
        out[i] = i + 1 < size ? in[i + 1] : 0;
    }
    std::memset(out + i, 0, CODEC_INPUT_PADDING + 1);
}

} // namespace

CLzxDecoder::CLzxDecoder(const Allocator &alloc, unsigned windowBits, uint8_t *window)
    : m_Alloc(alloc), m_Window(window), m_WindowSize(1u << windowBits), m_BufferSize(LzxBufferSize(windowBits)),
      m_MainSymbols(LZX_LITERALS + 8 * SlotCount(windowBits))
{
    Reset();
}

CLzxDecoder::~CLzxDecoder()
{
    m_Alloc.Free(m_Window);
}

Status CLzxDecoder::Reset()
{
    m_Pos = 0;
    m_Wrapped = false;
    m_Frame = 0;
    m_Ended = false;
    m_Failed = false;
    m_HeaderRead = false;
    m_E8Size = 0;
    m_E8Seen = false;
    m_R[0] = m_R[1] = m_R[2] = 1;
    m_BlockType = LzxBlockType::None;
    m_BlockRemaining = 0;
    m_BlockOdd = false;
    m_PadPending = false;
    // Tree lengths are sent as changes, starting from all zero.
    std::memset(m_MainLengths, 0, sizeof m_MainLengths);
    std::memset(m_LengthLengths, 0, sizeof m_LengthLengths);
    return Status::Ok;
}

Status CLzxDecoder::Fail()
{
    m_Failed = true;
    return Status::BadData;
}

Status CLzxDecoder::DecodeBlock(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t outSize)
{
    // Only the folder's last frame may be short, so nothing follows one.
    if (m_Failed || m_Ended || outSize == 0 || outSize > LZX_FRAME_SIZE || inSize > CODEC_INPUT_MAX) {
        return Fdi::Fail(Fail(), "a frame after the folder's last one, or of a bad size");
    }
    // 1. Position the input: inside an uncompressed block the frame
    //    continues with raw bytes; otherwise with a fresh bit stream, after
    //    the pad byte the previous frame could not hold.
    m_InPos = 0;
    if (m_PadPending) {
        m_PadPending = false;
        m_InPos = 1;
    }
    m_StreamStart = m_InPos;
    SwapWordBytes(in, m_StreamStart, inSize, m_Stream);
    m_Bits.Init(m_Stream, inSize, m_InPos);

    // 2. The E8 header opens the folder's first frame.
    if (!m_HeaderRead) {
        m_Bits.Refill();
        if (m_Bits.Take(1)) {
            const uint32_t high = m_Bits.Take(16);
            m_E8Size = static_cast<int32_t>(high << 16 | m_Bits.Take(16));
        }
        m_HeaderRead = true;
    }

    // 3. Decode the frame into the buffer; frames start at multiples of
    //    32768 and the buffer size is one, so a frame never wraps.
    const Status status = DecodeFrame(in, inSize, m_Pos + outSize);
    if (status != Status::Ok) {
        return Fail();
    }
    FinishFrame(out, outSize);
    return Status::Ok;
}

Status CLzxDecoder::DecodeFrame(const uint8_t *in, uint32_t inSize, uint32_t frameEnd)
{
    while (m_Pos < frameEnd) {
        if (m_BlockRemaining == 0) {
            if (ReadBlockHeader(in, inSize) != Status::Ok) {
                return Status::BadData;
            }
            if (m_BlockRemaining == 0) {
                continue;
            }
        }
        const uint32_t runEnd = m_Pos + (m_BlockRemaining < frameEnd - m_Pos ? m_BlockRemaining : frameEnd - m_Pos);
        const uint32_t runStart = m_Pos;
        Status status;
        switch (m_BlockType) {
        case LzxBlockType::Verbatim: status = DecodeSymbols<false>(runEnd); break;
        case LzxBlockType::Aligned: status = DecodeSymbols<true>(runEnd); break;
        default: status = CopyUncompressed(in, inSize, runEnd); break;
        }
        if (status != Status::Ok) {
            return status;
        }
        m_BlockRemaining -= m_Pos - runStart;
        if (m_BlockType == LzxBlockType::Uncompressed && m_BlockRemaining == 0) {
            // Back to bits after the raw bytes and the pad of an odd block.
            // The pad may be in the next CFDATA block when this one ends here.
            if (m_BlockOdd) {
                if (m_InPos < inSize) {
                    ++m_InPos;
                } else {
                    m_PadPending = true;
                }
            }
            m_Bits.Init(m_Stream, inSize, m_InPos);
        }
    }
    // Bits past the end of the input came from the zero padding: the frame
    // did not fit its block. (Raw bytes are bounds-checked as they are read.)
    const bool inRawBytes = m_BlockType == LzxBlockType::Uncompressed && m_BlockRemaining > 0;
    if (!inRawBytes && m_Bits.HasOverrun()) {
        return Fdi::Fail(Status::BadData, "the frame reads past the end of its block");
    }
    return Status::Ok;
}

Status CLzxDecoder::ReadBlockHeader(const uint8_t *in, uint32_t inSize)
{
    m_Bits.Refill();
    const unsigned type = m_Bits.Take(3);
    const uint32_t high = m_Bits.Take(16);
    m_BlockRemaining = high << 8 | m_Bits.Take(8);
    m_BlockOdd = (m_BlockRemaining & 1) != 0;
    switch (type) {
    case LZX_BLOCK_VERBATIM: m_BlockType = LzxBlockType::Verbatim; return ReadTrees(false);
    case LZX_BLOCK_ALIGNED: m_BlockType = LzxBlockType::Aligned; return ReadTrees(true);
    case LZX_BLOCK_UNCOMPRESSED: m_BlockType = LzxBlockType::Uncompressed; return BeginUncompressed(in, inSize);
    default: return Fdi::Fail(Status::BadData, "bad block type"); // types 0 and 4-7 do not exist
    }
}

Status CLzxDecoder::ReadTrees(bool aligned)
{
    if (aligned) {
        m_Bits.Refill();
        for (unsigned i = 0; i < LZX_ALIGNED_SYMBOLS; ++i) {
            m_AlignedLengths[i] = static_cast<uint8_t>(m_Bits.Take(3));
        }
        if (m_AlignedTable.Build(m_AlignedLengths) != TableBuild::Complete) {
            return Fdi::Fail(Status::BadData, "bad aligned offset tree");
        }
    }
    if (ReadLengths(m_MainLengths, 0, LZX_LITERALS) != Status::Ok ||
        ReadLengths(m_MainLengths, LZX_LITERALS, m_MainSymbols) != Status::Ok) {
        return Status::BadData;
    }
    // A main tree without codes cannot produce the block's output.
    if (m_MainTable.Build(m_MainLengths, LZX_MAIN_TAGS.Tag) != TableBuild::Complete) {
        return Fdi::Fail(Status::BadData, "bad main tree");
    }
    if (m_MainLengths[0xE8] != 0) {
        m_E8Seen = true;
    }
    if (ReadLengths(m_LengthLengths, 0, LZX_LENGTH_SYMBOLS) != Status::Ok) {
        return Status::BadData;
    }
    // A block without matches longer than 8 sends an empty length tree; a
    // length symbol decoded from it is EMPTY_SYMBOL, which no run can hold.
    if (m_LengthTable.Build(m_LengthLengths) == TableBuild::Invalid) {
        return Fdi::Fail(Status::BadData, "bad length tree");
    }
    return Status::Ok;
}

Status CLzxDecoder::ReadLengths(uint8_t *lengths, unsigned first, unsigned last)
{
    uint8_t preLengths[LZX_PRETREE_SYMBOLS];
    m_Bits.Refill();
    for (unsigned i = 0; i < LZX_PRETREE_SYMBOLS; ++i) {
        if (m_Bits.Count() < 4) {
            m_Bits.Refill();
        }
        preLengths[i] = static_cast<uint8_t>(m_Bits.Take(4));
    }
    if (m_PreTable.Build(preLengths) != TableBuild::Complete) {
        return Fdi::Fail(Status::BadData, "bad pretree");
    }
    for (unsigned x = first; x < last;) {
        // One refill covers the longest step: two 15-bit codes and a bit.
        m_Bits.Refill();
        const unsigned code = m_PreTable.Decode(m_Bits);
        if (code <= 16) {
            lengths[x] = static_cast<uint8_t>((lengths[x] + 17 - code) % 17);
            ++x;
            continue;
        }
        unsigned run;
        uint8_t value = 0;
        if (code == 17) {
            run = m_Bits.Take(4) + 4;
        } else if (code == 18) {
            run = m_Bits.Take(5) + 20;
        } else {
            run = m_Bits.Take(1) + 4;
            const unsigned change = m_PreTable.Decode(m_Bits);
            if (change > 16) {
                return Fdi::Fail(Status::BadData, "bad pretree symbol in a run of one length");
            }
            value = static_cast<uint8_t>((lengths[x] + 17 - change) % 17);
        }
        // A run may not spill into the next part or past the tree.
        if (run > last - x) {
            return Fdi::Fail(Status::BadData, "a pretree run beyond the tree");
        }
        std::memset(lengths + x, value, run);
        x += run;
    }
    return Status::Ok;
}

Status CLzxDecoder::BeginUncompressed(const uint8_t *in, uint32_t inSize)
{
    if (m_Bits.HasOverrun()) {
        return Fdi::Fail(Status::BadData, "an uncompressed block's header beyond the input");
    }
    // Realign to the next 16-bit boundary, or skip a whole word when the
    // header already ended on one. Words count from the stream's start,
    // which is odd after a pad byte carried over from the previous block.
    const uint64_t bit = m_Bits.Position() - m_StreamStart * 8;
    const uint64_t aligned = (bit % 16 == 0) ? bit + 16 : (bit + 15) / 16 * 16;
    const uint64_t byte = aligned / 8 + m_StreamStart;
    if (byte + 12 > inSize) {
        return Fdi::Fail(Status::BadData, "an uncompressed block's offsets beyond the input");
    }
    m_InPos = static_cast<uint32_t>(byte);
    for (uint32_t &r : m_R) {
        r = Le32(in + m_InPos);
        m_InPos += 4;
    }
    // Raw bytes may hold 0xE8 bytes the main tree never announced.
    m_E8Seen = true;
    return Status::Ok;
}

Status CLzxDecoder::CopyUncompressed(const uint8_t *in, uint32_t inSize, uint32_t runEnd)
{
    const uint32_t length = runEnd - m_Pos;
    if (length > inSize - m_InPos) {
        return Fdi::Fail(Status::BadData, "an uncompressed block's bytes beyond the input");
    }
    std::memcpy(m_Window + m_Pos, in + m_InPos, length);
    m_Pos += length;
    m_InPos += length;
    return Status::Ok;
}

void CLzxDecoder::FinishFrame(uint8_t *out, uint32_t outSize)
{
    const uint32_t frameStart = m_Pos - outSize;
    std::memcpy(out, m_Window + frameStart, outSize);
    // The filter works on the copy; the window keeps the encoder's bytes.
    if (m_E8Size != 0 && m_E8Seen && m_Frame < LZX_E8_FRAME_LIMIT) {
        TranslateE8(out, outSize, m_Frame * LZX_FRAME_SIZE, m_E8Size);
    }
    ++m_Frame;
    if (m_Pos == m_BufferSize) {
        m_Pos = 0;
    }
    // Every frame so far was full, so the folder holds m_Frame * 32768 bytes.
    if (static_cast<uint64_t>(m_Frame) * LZX_FRAME_SIZE >= m_WindowSize) {
        m_Wrapped = true;
    }
    if (outSize < LZX_FRAME_SIZE) {
        m_Ended = true;
    }
}

CCodec *CreateLzx(const Allocator &alloc, unsigned windowBits, Status *status)
{
    if (windowBits < LZX_MIN_WINDOW_BITS || windowBits > LZX_MAX_WINDOW_BITS) {
        *status = Fdi::Fail(Status::BadCompression, "LZX window size out of range");
        return nullptr;
    }
    return CreateWithWindow<CLzxDecoder>(alloc, LzxBufferSize(windowBits) + LZX_BUFFER_SLACK, windowBits, status);
}

} // namespace Fdi
