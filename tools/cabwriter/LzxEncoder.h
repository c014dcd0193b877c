// LZX compression of one cabinet folder at a time, one frame (CFDATA
// block) of input at a time.
//
// The encoder keeps everything a folder needs in the object: the window
// and the match finder's tables (both sized by the window), the block being
// parsed and the previous block's trees. Nothing is shared between objects,
// so several encoders may run on several threads.
//
// Input arrives in frames of 32768 bytes (the folder's last may be
// shorter). Each frame is run through the x86 call filter, parsed into
// literals and matches and kept until its block is full; then the block is
// written and its frames' payloads become available in Output().
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/cabwriter/LzxBlockWriter.h"
#include "tools/cabwriter/LzxFormat.h"
#include "tools/cabwriter/LzxMatchFinder.h"

namespace Selfex {

constexpr unsigned LZX_MIN_LEVEL = 1;
constexpr unsigned LZX_MAX_LEVEL = 9;
constexpr unsigned LZX_DEFAULT_LEVEL = 5;

// The x86 call filter's translation size for a folder of folderBytes: the
// smallest power of two that holds the folder, from 2^16 up to 2^30.
//
// The filter turns a call's relative operand r at folder position p into
// the absolute target r + p when that lies below the size, so calls to one
// function match wherever they are. Real targets lie inside the folder, so
// a size that covers it catches them all; a larger size only rewrites more
// operands that are not calls. On binaries this beats the 12000000 that
// makecab announces by 3 % for a 100 MB folder (the filter covers the first
// GiB of a folder; that far, so does the size), and the next power of two
// beats twice that by a little.
int32_t LzxTranslationSize(uint32_t folderBytes);

class CLzxEncoder {
public:
    // windowBits: 15..21; level: LZX_MIN_LEVEL..LZX_MAX_LEVEL.
    CLzxEncoder(unsigned windowBits, unsigned level);
    ~CLzxEncoder();
    CLzxEncoder(const CLzxEncoder &) = delete;
    CLzxEncoder &operator=(const CLzxEncoder &) = delete;

    // Starts a new folder of folderBytes (which sets the call filter's
    // translation size): empty window, fresh trees and repeated offsets.
    // Output() must have been taken.
    void StartFolder(uint32_t folderBytes);
    // Compresses the folder's next size bytes (1..32768; less than 32768 only
    // for its last frame). Payloads of finished blocks may appear in Output().
    void AddFrame(const uint8_t *data, uint32_t size);
    // Writes what is left of the folder into Output().
    void FinishFolder();

    // Finished frames, oldest first: payload i is Output()[FrameEnds()[i-1]
    // (0 for i = 0) .. FrameEnds()[i]) and decodes to FrameSizes()[i] bytes.
    const std::vector<uint8_t> &Output() const { return m_Output; }
    const std::vector<uint32_t> &FrameEnds() const { return m_FrameEnds; }
    const std::vector<uint32_t> &FrameSizes() const { return m_OutFrameSizes; }
    void ClearOutput();

    const LzxBlockStats &Stats() const { return m_Blocks.Stats(); }

private:
    struct Choice;
    const uint8_t *At(uint32_t pos) const { return m_Window.data() + (pos - m_Base); }
    void MakeRoom(uint32_t size);
    template <class Finder>
    void InsertUpTo(Finder &finder, uint32_t pos);
    template <class Finder>
    Choice Best(Finder &finder, uint32_t pos, uint32_t end);
    template <class Finder>
    void ParseFrame(Finder &finder, uint32_t start, uint32_t end);
    void Literal(uint32_t pos);
    void Match(const Choice &choice);
    void WriteBlock(unsigned frames);
    void UpdateCosts();
    int MatchCost(unsigned slot, uint32_t length) const;
    int Gain(uint32_t pos, uint32_t length, unsigned slot) const;

    unsigned m_WindowBits;
    uint32_t m_WindowSize;
    unsigned m_MainSymbols;
    uint32_t m_MaxOffset;
    unsigned m_Depth;
    uint32_t m_Nice;
    unsigned m_LazySteps;

    // The window: folder bytes m_Base .. m_End (filtered), with history of at
    // least a window before each parsed position.
    std::vector<uint8_t> m_Window;
    uint32_t m_Base = 0;
    uint32_t m_End = 0;
    uint32_t m_Inserted = 0; // positions below this are in the match finder
    // The match finder's answers for the last few positions searched.
    struct Found {
        uint32_t Pos;
        unsigned Count;
        LzxMatch Matches[LZX_MAX_FOUND];
    };
    static constexpr unsigned FOUND_KEPT = 4;
    Found m_Found[FOUND_KEPT] = {};
    // The level's match finder: one of the two.
    std::unique_ptr<CLzxHashRows> m_Rows;
    std::unique_ptr<CLzxHashChains> m_Chains;
    int32_t m_E8Size = 0;
    uint32_t m_Frame = 0; // index of the folder's next frame
    uint32_t m_R[3] = {1, 1, 1};

    // Estimated bits per symbol, from the last block's trees, and the
    // literal costs of the current frame's bytes summed up to each position.
    uint8_t m_LiteralBits[LZX_LITERALS];
    uint8_t m_MatchBits[8 * LZX_MAX_SLOTS];
    uint8_t m_LengthBits[LZX_LENGTH_SYMBOLS];
    std::vector<uint32_t> m_LiteralSums;
    uint32_t m_FrameStart = 0;

    // The block being parsed.
    uint32_t m_BlockStart = 0;
    std::vector<LzxItem> m_Items;
    std::vector<uint32_t> m_FrameItemEnds;
    std::vector<uint32_t> m_FrameSizes;
    std::vector<uint32_t> m_FrameRepeats;
    LzxCounts m_BlockCounts; // of the frames before the newest

    CLzxBlockWriter m_Blocks;
    std::vector<uint8_t> m_Output;
    std::vector<uint32_t> m_FrameEnds;
    std::vector<uint32_t> m_OutFrameSizes;
};

} // namespace Selfex
