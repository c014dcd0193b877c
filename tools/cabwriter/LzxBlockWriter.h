// Writes parsed LZX blocks: chooses the block type by cost, builds and sends
// the trees, and cuts the bits into frames (one per CFDATA block).
//
// A block covers whole frames (the folder's last frame may be short), so a
// frame never holds the end of one block and the start of the next, and an
// uncompressed block's raw bytes start each later frame at its first byte.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/cabwriter/LzxFormat.h"

namespace Selfex {

class CLzxBitWriter;

// One literal or match of a parsed block.
struct LzxItem {
    uint16_t Main;   // main-tree symbol: a literal, or 256 + (slot << 3 | length header)
    uint16_t Length; // length-tree symbol (match length - 9) + 1; 0 when the header needs none
    uint32_t Extra;  // the offset's extra bits (slots 4 and up)
};

// Symbol counts of some parsed items, for deciding where blocks end.
struct LzxCounts {
    uint32_t Main[LZX_MAIN_SYMBOLS_MAX] = {};
    uint32_t Length[LZX_LENGTH_SYMBOLS] = {};

    void Add(const LzxItem *items, uint32_t count);
    void Add(const LzxCounts &other);
};

// Estimated bits of a verbatim block with these counts under codes made for
// them, trees included; offset bits, which do not depend on the codes, are
// left out. mainSymbols: as for CLzxBlockWriter.
uint64_t EstimateBlockBits(const LzxCounts &counts, unsigned mainSymbols);

// A block's parse and what an uncompressed block would need instead.
struct LzxBlock {
    const LzxItem *Items = nullptr;
    const uint32_t *FrameItemEnds = nullptr; // per frame: index of the item after its last
    const uint32_t *FrameSizes = nullptr;    // per frame: uncompressed bytes
    unsigned Frames = 0;
    const uint32_t *FrameRepeats = nullptr; // per frame: R0, R1, R2 after it (3 values each)
    const uint8_t *Raw = nullptr;           // the block's (filtered) bytes, FrameSizes summed
};

// Counts of the block types written, for the tests and the benchmark.
struct LzxBlockStats {
    uint32_t Verbatim = 0;
    uint32_t Aligned = 0;
    uint32_t Uncompressed = 0;
};

// Folder state of the block writer: the trees of the previous block, which
// the next block's trees are sent against, and the stream header.
class CLzxBlockWriter {
public:
    // mainSymbols: 256 + 8 * position slots of the folder's window.
    explicit CLzxBlockWriter(unsigned mainSymbols);
    ~CLzxBlockWriter();
    CLzxBlockWriter(const CLzxBlockWriter &) = delete;
    CLzxBlockWriter &operator=(const CLzxBlockWriter &) = delete;

    // Forgets the previous trees: the next block opens a new folder, whose
    // stream header announces e8Size, the x86 call filter's translation size
    // (0 for none).
    void StartFolder(int32_t e8Size);

    // Appends the block's frames to out, each padded to a 16-bit boundary,
    // and for each frame the end offset of its bytes in out to frameEnds.
    // Every frame fits the readers' payload limit.
    void Write(const LzxBlock &block, std::vector<uint8_t> &out, std::vector<uint32_t> &frameEnds);

    const LzxBlockStats &Stats() const { return m_Stats; }
    // The code lengths of the last trees sent (all 0 before the first): what
    // symbols cost lately, for the parser's estimates.
    const uint8_t *MainLengths() const { return m_PrevMain; }
    const uint8_t *LengthLengths() const { return m_PrevLength; }

private:
    struct Trees;
    struct BlockCosts {
        uint64_t HeaderBits = 0;     // stream and block headers, trees
        uint64_t CompressedBits = 0; // verbatim or aligned, whichever the trees chose
        uint64_t RawBits = 0;        // as an uncompressed block
        uint32_t Bytes = 0;          // the block's output
    };
    BlockCosts PrepareTrees(const LzxBlock &block, Trees &trees) const;
    bool FramesFit(const LzxBlock &block, const Trees &trees, uint64_t headerBits) const;
    uint64_t StreamHeaderBits() const;
    void WriteStreamHeader(CLzxBitWriter &bits);
    bool WriteCompressed(const LzxBlock &block, std::vector<uint8_t> &out, std::vector<uint32_t> &frameEnds);
    void WriteUncompressed(const LzxBlock &block, std::vector<uint8_t> &out, std::vector<uint32_t> &frameEnds);

    unsigned m_MainSymbols;
    int32_t m_E8Size = 0;
    bool m_HeaderPending = true;
    std::unique_ptr<Trees> m_Trees; // scratch for the block being written
    uint8_t m_PrevMain[LZX_MAIN_SYMBOLS_MAX] = {};
    uint8_t m_PrevLength[LZX_LENGTH_SYMBOLS] = {};
    LzxBlockStats m_Stats;
};

} // namespace Selfex
