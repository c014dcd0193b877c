// LZX folder decoder (the cabinet variant of LZX, windows of 2^15 to 2^21).
//
// One object decodes one folder at a time, one CFDATA block per call. The
// window (the history) and all tree state live in the object; Reset()
// starts the next folder. See Lzx.cpp for the format notes.
#pragma once

#include <cstdint>

#include "fdi/BitReader.h"
#include "fdi/Codec.h"
#include "fdi/Huffman.h"
#include "fdi/LzxFormat.h"

namespace Fdi {

// The decoder's own: the history buffer holds one frame more than the
// window: the bytes just ahead of the output position are then older than
// any match may reach, so match copies may write up to 31 bytes past a
// match's end. SLACK covers such writes at the buffer's end.
constexpr uint32_t LZX_BUFFER_SLACK = 32;
inline constexpr uint32_t LzxBufferSize(unsigned windowBits)
{
    return (1u << windowBits) + LZX_FRAME_SIZE;
}

// Tags of the main tree's symbols: a match symbol's extra offset bits, so
// the decoding loop has them with the code instead of from the slot table.
struct LzxMainTags {
    uint8_t Tag[LZX_MAIN_SYMBOLS_MAX];
};
constexpr LzxMainTags MakeLzxMainTags()
{
    LzxMainTags tags{};
    for (unsigned symbol = LZX_LITERALS; symbol < LZX_MAIN_SYMBOLS_MAX; ++symbol) {
        tags.Tag[symbol] = LZX_SLOTS.Slot[(symbol - LZX_LITERALS) >> 3].Extra;
    }
    return tags;
}
inline constexpr LzxMainTags LZX_MAIN_TAGS = MakeLzxMainTags();

enum class LzxBlockType : uint8_t {
    None = 0, // no block started yet (0 is also invalid in the stream)
    Verbatim = 1,
    Aligned = 2,
    Uncompressed = 3,
};

class CLzxDecoder final : public CCodec {
public:
    // window: LzxBufferSize(windowBits) + LZX_BUFFER_SLACK bytes from alloc,
    // owned by the decoder from now on.
    CLzxDecoder(const Allocator &alloc, unsigned windowBits, uint8_t *window);
    ~CLzxDecoder() override;
    CLzxDecoder(const CLzxDecoder &) = delete;
    CLzxDecoder &operator=(const CLzxDecoder &) = delete;

    Status Reset() override;
    Status DecodeBlock(const uint8_t *in, uint32_t inSize, uint8_t *out, uint32_t outSize) override;

private:
    // Main tree: symbol = literal, or 256 + (slot << 3 | length header),
    // tagged with LZX_MAIN_TAGS. An 11-bit root (8 KiB) decoded real
    // binaries as fast as 12 bits with fewer cache misses; 13 was slower.
    using CMainTable = CHuffmanTable<LZX_MAIN_SYMBOLS_MAX, 11, 16>;
    using CLengthTable = CHuffmanTable<LZX_LENGTH_SYMBOLS, 10, 16>;
    // Pre-tree lengths are 4-bit fields, aligned-tree lengths 3-bit ones.
    using CPreTable = CHuffmanTable<LZX_PRETREE_SYMBOLS, 8, 15>;
    using CAlignedTable = CHuffmanTable<LZX_ALIGNED_SYMBOLS, 7, 7>;

    Status DecodeFrame(const uint8_t *in, uint32_t inSize, uint32_t frameEnd);
    Status ReadBlockHeader(const uint8_t *in, uint32_t inSize);
    Status ReadTrees(bool aligned);
    Status ReadLengths(uint8_t *lengths, unsigned first, unsigned last);
    Status BeginUncompressed(const uint8_t *in, uint32_t inSize);
    Status CopyUncompressed(const uint8_t *in, uint32_t inSize, uint32_t runEnd);
    template <bool Aligned>
    Status DecodeSymbols(uint32_t runEnd);
    void FinishFrame(uint8_t *out, uint32_t outSize);
    Status Fail();

    Allocator m_Alloc;
    uint8_t *m_Window;
    uint32_t m_WindowSize;  // the format's window: how far matches reach back
    uint32_t m_BufferSize;  // the history buffer, one frame larger
    unsigned m_MainSymbols; // 256 + 8 * position slots of this window

    // Folder state, reset per folder.
    uint32_t m_Pos = 0;          // buffer position of the next output byte
    bool m_Wrapped = false;      // a whole window of folder output exists
    uint32_t m_Frame = 0;        // index of the next frame in the folder
    bool m_Ended = false;        // a short (final) frame was decoded
    bool m_Failed = false;       // bad data seen; only Reset helps
    bool m_HeaderRead = false;   // the E8 header at the folder start
    int32_t m_E8Size = 0;        // translation size; 0 = translation off
    bool m_E8Seen = false;       // an 0xE8 byte may be in the output
    uint32_t m_R[3] = {1, 1, 1}; // repeated offsets R0, R1, R2
    LzxBlockType m_BlockType = LzxBlockType::None;
    uint32_t m_BlockRemaining = 0; // output bytes left in the current block
    bool m_BlockOdd = false;       // current block is uncompressed with odd length
    bool m_PadPending = false;     // that block's pad byte is still to skip

    // Per-call input state: bit mode for compressed blocks, byte mode
    // (m_InPos) inside uncompressed ones. The bits are read from m_Stream,
    // the block's input with the bytes of every 16-bit word exchanged
    // (counted from m_StreamStart), which makes the stream plain bytes,
    // most significant bit first: refills then need no reordering of
    // words. Raw bytes are read from the input itself.
    CBitReader m_Bits;
    uint32_t m_InPos = 0;
    uint32_t m_StreamStart = 0; // 1 after a pad byte carried over, else 0
    uint8_t m_Stream[CODEC_INPUT_MAX + 2 + CODEC_INPUT_PADDING];

    uint8_t m_MainLengths[LZX_MAIN_SYMBOLS_MAX] = {};
    uint8_t m_LengthLengths[LZX_LENGTH_SYMBOLS] = {};
    uint8_t m_AlignedLengths[LZX_ALIGNED_SYMBOLS] = {};
    CMainTable m_MainTable;
    CLengthTable m_LengthTable;
    CAlignedTable m_AlignedTable;
    CPreTable m_PreTable;
};

} // namespace Fdi
