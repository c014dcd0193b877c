// LZX compression of cabinet folders: window, parsing, blocks.
//
// Parsing is lazy: at each position the encoder takes the best match (among
// those the match finder lists and the repeated offsets R0-R2, weighed by
// an estimate of the bits each saves over literals, from the last block's
// trees), unless the next position, or from level 5 on the one after,
// offers a better one; then it emits literals up to there instead. Matches
// never cross a frame's end, so every frame decodes on its own boundaries.
#include "tools/cabwriter/LzxEncoder.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "tools/cabwriter/LzxCallFilter.h"

namespace Selfex {

namespace {

// A block ends where starting a new one looks cheaper than going on, and
// after this many frames at most (which bounds the memory of its parse).
constexpr unsigned MAX_BLOCK_FRAMES = 16;

struct LevelParams {
    bool Chains;        // hash chains, or else hash rows
    unsigned Depth;     // candidates tried per position
    uint32_t Nice;      // a match this long ends the search
    unsigned LazySteps; // positions ahead a match may be put off for: 0-2
};

constexpr LevelParams LEVELS[LZX_MAX_LEVEL + 1] = {
    {false, 0, 0, 0},    // unused
    {false, 4, 16, 0},   // 1
    {false, 6, 24, 1},   // 2
    {false, 8, 32, 1},   // 3
    {false, 12, 48, 1},  // 4
    {false, 16, 64, 2},  // 5
    {false, 24, 128, 2}, // 6
    {true, 48, 192, 2},  // 7
    {true, 128, 257, 2}, // 8
    {true, 256, 257, 2}, // 9
};

// Positions ahead whose hash-table memory is asked for early.
constexpr uint32_t PREFETCH_AHEAD = 16;

// A match is put off only when shorter than this (longer ones seldom lose
// to one a byte later), and only for one that gains more bits than it by
// this much per position put off (the literals in between cost a little
// more than estimated, as the lengths they cover are not all typical).
constexpr uint32_t LAZY_LIMIT = 32;
constexpr int DEFER_BITS = 3;

struct SlotBases {
    uint32_t Base[LZX_MAX_SLOTS + 1];
};
constexpr SlotBases MakeSlotBases()
{
    SlotBases bases{};
    for (unsigned slot = 0; slot <= LZX_MAX_SLOTS; ++slot) {
        bases.Base[slot] = LzxSlotBase(slot);
    }
    return bases;
}
constexpr SlotBases SLOT_BASES = MakeSlotBases();

// Bits assumed for a symbol that the last block's trees do not hold, and
// for every symbol of a folder's first block (a literal a little less).
constexpr uint8_t UNSEEN_SYMBOL_BITS = 12;
constexpr uint8_t FIRST_LITERAL_BITS = 8;
constexpr uint8_t FIRST_MATCH_BITS = 9;
constexpr uint8_t FIRST_LENGTH_BITS = 6;

} // namespace

// A candidate at one position: a repeated offset (Repeat 0-2) or an
// explicit one (Repeat 3), with its estimated gain over literals.
struct CLzxEncoder::Choice {
    uint32_t Pos = 0;
    uint32_t Length = 0;
    uint32_t Offset = 0;
    unsigned Repeat = 3;
    int Gain = 0;
};

int32_t LzxTranslationSize(uint32_t folderBytes)
{
    uint32_t size = 1u << 16;
    while (size < folderBytes && size < (1u << 30)) {
        size <<= 1;
    }
    return static_cast<int32_t>(size);
}

CLzxEncoder::CLzxEncoder(unsigned windowBits, unsigned level)
    : m_WindowBits(windowBits), m_WindowSize(1u << windowBits),
      m_MainSymbols(LZX_LITERALS + 8 * LzxSlotCount(windowBits)), m_MaxOffset(LzxMaxOffset(windowBits)),
      m_Depth(LEVELS[level].Depth), m_Nice(LEVELS[level].Nice), m_LazySteps(LEVELS[level].LazySteps),
      // Room for a window of history, the block being parsed and a window
      // more, so that sliding (moving a window of bytes) is rare; and 8
      // bytes of slack for whole-word compares at the end.
      m_Window(2 * (1u << windowBits) + MAX_BLOCK_FRAMES * LZX_FRAME_SIZE + 8), m_Blocks(m_MainSymbols)
{
    assert(windowBits >= LZX_MIN_WINDOW_BITS && windowBits <= LZX_MAX_WINDOW_BITS && "window bits out of range");
    assert(level >= LZX_MIN_LEVEL && level <= LZX_MAX_LEVEL && "level out of range");
    m_Items.reserve(MAX_BLOCK_FRAMES * LZX_FRAME_SIZE);
    m_LiteralSums.resize(LZX_FRAME_SIZE + 1);
    if (LEVELS[level].Chains) {
        m_Chains = std::make_unique<CLzxHashChains>(windowBits, m_MaxOffset);
    } else {
        m_Rows = std::make_unique<CLzxHashRows>(windowBits, m_MaxOffset);
    }
    StartFolder(0);
}

CLzxEncoder::~CLzxEncoder() = default;

void CLzxEncoder::StartFolder(uint32_t folderBytes)
{
    m_E8Size = LzxTranslationSize(folderBytes);
    m_Base = m_End = m_Inserted = 0;
    m_Frame = 0;
    m_R[0] = m_R[1] = m_R[2] = 1;
    m_BlockStart = 0;
    m_Items.clear();
    m_FrameItemEnds.clear();
    m_FrameSizes.clear();
    m_FrameRepeats.clear();
    // Hash tables sized for the folder: resetting them costs in proportion.
    unsigned tableBits = LZX_MIN_WINDOW_BITS;
    while (tableBits < m_WindowBits && (uint32_t{1} << tableBits) < folderBytes) {
        ++tableBits;
    }
    if (m_Rows) {
        m_Rows->Reset(tableBits);
    }
    if (m_Chains) {
        m_Chains->Reset(tableBits);
    }
    std::memset(m_LiteralBits, FIRST_LITERAL_BITS, sizeof m_LiteralBits);
    std::memset(m_MatchBits, FIRST_MATCH_BITS, sizeof m_MatchBits);
    std::memset(m_LengthBits, FIRST_LENGTH_BITS, sizeof m_LengthBits);
    for (Found &found : m_Found) {
        found.Pos = UINT32_MAX;
    }
    m_Blocks.StartFolder(m_E8Size);
}

void CLzxEncoder::ClearOutput()
{
    m_Output.clear();
    m_FrameEnds.clear();
    m_OutFrameSizes.clear();
}

// Slides the window when size more bytes would not fit: keeps a window of
// history and the unwritten block.
void CLzxEncoder::MakeRoom(uint32_t size)
{
    const uint32_t capacity = static_cast<uint32_t>(m_Window.size()) - 8;
    if (m_End - m_Base + size <= capacity) {
        return;
    }
    const uint32_t keepFrom = std::min(m_BlockStart, m_End > m_WindowSize ? m_End - m_WindowSize : m_Base);
    std::memmove(m_Window.data(), At(keepFrom), m_End - keepFrom);
    m_Base = keepFrom;
}

void CLzxEncoder::AddFrame(const uint8_t *data, uint32_t size)
{
    assert(size >= 1 && size <= LZX_FRAME_SIZE && "a frame holds 1 to 32768 bytes");
    MakeRoom(size);
    uint8_t *frame = m_Window.data() + (m_End - m_Base);
    std::memcpy(frame, data, size);
    if (m_E8Size != 0 && m_Frame < LZX_E8_FRAME_LIMIT) {
        EncodeCallTargets(frame, size, m_End, m_E8Size);
    }
    const uint32_t start = m_End;
    m_End += size;
    ++m_Frame;
    if (m_Rows) {
        ParseFrame(*m_Rows, start, m_End);
    } else {
        ParseFrame(*m_Chains, start, m_End);
    }

    const uint32_t firstItem = m_FrameItemEnds.empty() ? 0 : m_FrameItemEnds.back();
    m_FrameItemEnds.push_back(static_cast<uint32_t>(m_Items.size()));
    m_FrameSizes.push_back(size);
    m_FrameRepeats.insert(m_FrameRepeats.end(), m_R, m_R + 3);

    // The new frame joins the block when one code for both looks cheaper
    // than a code each; otherwise the block is written without it.
    LzxCounts frameCounts;
    frameCounts.Add(m_Items.data() + firstItem, m_FrameItemEnds.back() - firstItem);
    const unsigned frames = static_cast<unsigned>(m_FrameSizes.size());
    if (frames == 1) {
        m_BlockCounts = frameCounts;
        return;
    }
    bool join = frames <= MAX_BLOCK_FRAMES;
    if (join) {
        LzxCounts joined = m_BlockCounts;
        joined.Add(frameCounts);
        join = EstimateBlockBits(joined, m_MainSymbols) <=
               EstimateBlockBits(m_BlockCounts, m_MainSymbols) + EstimateBlockBits(frameCounts, m_MainSymbols);
        m_BlockCounts = joined;
    }
    if (!join) {
        WriteBlock(frames - 1);
        m_BlockCounts = frameCounts;
    }
}

void CLzxEncoder::FinishFolder()
{
    if (!m_FrameSizes.empty()) {
        WriteBlock(static_cast<unsigned>(m_FrameSizes.size()));
    }
}

// Writes the first frames of the pending block as one block; the frames
// after them stay, as the start of the next.
void CLzxEncoder::WriteBlock(unsigned frames)
{
    LzxBlock block;
    block.Items = m_Items.data();
    block.FrameItemEnds = m_FrameItemEnds.data();
    block.FrameSizes = m_FrameSizes.data();
    block.FrameRepeats = m_FrameRepeats.data();
    block.Frames = frames;
    block.Raw = At(m_BlockStart);
    m_Blocks.Write(block, m_Output, m_FrameEnds);
    m_OutFrameSizes.insert(m_OutFrameSizes.end(), m_FrameSizes.begin(),
                           m_FrameSizes.begin() + static_cast<std::ptrdiff_t>(frames));
    UpdateCosts();

    // What is left moves to the front.
    const uint32_t items = m_FrameItemEnds[frames - 1];
    for (unsigned f = 0; f < frames; ++f) {
        m_BlockStart += m_FrameSizes[f];
    }
    m_Items.erase(m_Items.begin(), m_Items.begin() + static_cast<std::ptrdiff_t>(items));
    m_FrameItemEnds.erase(m_FrameItemEnds.begin(), m_FrameItemEnds.begin() + static_cast<std::ptrdiff_t>(frames));
    for (uint32_t &end : m_FrameItemEnds) {
        end -= items;
    }
    m_FrameSizes.erase(m_FrameSizes.begin(), m_FrameSizes.begin() + static_cast<std::ptrdiff_t>(frames));
    m_FrameRepeats.erase(m_FrameRepeats.begin(), m_FrameRepeats.begin() + static_cast<std::ptrdiff_t>(3 * frames));
}

void CLzxEncoder::UpdateCosts()
{
    const uint8_t *main = m_Blocks.MainLengths();
    const uint8_t *length = m_Blocks.LengthLengths();
    auto bits = [](uint8_t len) { return len ? len : UNSEEN_SYMBOL_BITS; };
    for (unsigned sym = 0; sym < LZX_LITERALS; ++sym) {
        m_LiteralBits[sym] = bits(main[sym]);
    }
    for (unsigned sym = 0; sym < 8 * LZX_MAX_SLOTS; ++sym) {
        m_MatchBits[sym] = bits(main[LZX_LITERALS + sym]);
    }
    for (unsigned sym = 0; sym < LZX_LENGTH_SYMBOLS; ++sym) {
        m_LengthBits[sym] = bits(length[sym]);
    }
}

// Estimated bits of a match: its main symbol, length symbol and offset bits.
inline int CLzxEncoder::MatchCost(unsigned slot, uint32_t length) const
{
    const uint32_t header = std::min<uint32_t>(length - LZX_MIN_MATCH, LZX_LENGTH_HEADERS);
    int cost = m_MatchBits[slot << 3 | header] + static_cast<int>(LzxExtraBits(slot));
    if (header == LZX_LENGTH_HEADERS) {
        cost += m_LengthBits[length - LZX_MIN_MATCH - LZX_LENGTH_HEADERS];
    }
    return cost;
}

// Estimated bits saved by a match at pos over literals.
inline int CLzxEncoder::Gain(uint32_t pos, uint32_t length, unsigned slot) const
{
    const uint32_t literals = m_LiteralSums[pos + length - m_FrameStart] - m_LiteralSums[pos - m_FrameStart];
    return static_cast<int>(literals) - MatchCost(slot, length);
}

// Inserts the positions before pos that have the finder's look-ahead of
// data behind them.
template <class Finder>
void CLzxEncoder::InsertUpTo(Finder &finder, uint32_t pos)
{
    const uint32_t readable = m_End >= LZX_FINDER_LOOKAHEAD ? m_End - LZX_FINDER_LOOKAHEAD + 1 : 0;
    const uint32_t last = std::min(pos, readable);
    for (; m_Inserted < last; ++m_Inserted) {
        if (m_Inserted + PREFETCH_AHEAD < readable) {
            finder.Prefetch(At(m_Inserted + PREFETCH_AHEAD));
        }
        finder.Insert(At(m_Inserted), m_Inserted);
    }
}

// The best candidate at pos for a match ending by end; Gain 0 when none
// beats a literal.
template <class Finder>
CLzxEncoder::Choice CLzxEncoder::Best(Finder &finder, uint32_t pos, uint32_t end)
{
    Choice best;
    best.Pos = pos;
    const uint8_t *cur = At(pos);
    const uint32_t limit = std::min<uint32_t>(LZX_MAX_MATCH, end - pos);
    if (limit < LZX_MIN_MATCH) {
        return best;
    }
    // 1. The repeated offsets, while they reach into the folder.
    for (unsigned r = 0; r < 3; ++r) {
        const uint32_t offset = m_R[r];
        if (offset > pos) {
            continue;
        }
        const uint32_t length = CommonLength(cur - offset, cur, limit);
        if (length >= LZX_MIN_MATCH) {
            const int gain = Gain(pos, length, r);
            if (gain > best.Gain) {
                best.Length = length;
                best.Offset = offset;
                best.Repeat = r;
                best.Gain = gain;
            }
        }
    }
    // 2. The match finder, which needs its look-ahead of data to hash. A
    //    position looked at before (ahead of a match) has its result kept.
    InsertUpTo(finder, pos);
    Found &found = m_Found[pos % FOUND_KEPT];
    const bool searchable = pos + LZX_FINDER_LOOKAHEAD <= m_End;
    if (searchable && m_Inserted == pos) {
        if (pos + PREFETCH_AHEAD + LZX_FINDER_LOOKAHEAD <= m_End) {
            finder.Prefetch(At(pos + PREFETCH_AHEAD));
        }
        found.Pos = pos;
        found.Count = finder.InsertAndFind(cur, pos, limit, m_Depth, m_Nice, found.Matches);
        m_Inserted = pos + 1;
    }
    if (searchable && found.Pos == pos) {
        for (unsigned i = 0; i < found.Count; ++i) {
            const LzxMatch match = found.Matches[i];
            const int gain = Gain(pos, match.Length, LzxSlotOf(match.Offset + 2));
            if (gain > best.Gain) {
                best.Length = match.Length;
                best.Offset = match.Offset;
                best.Repeat = 3;
                best.Gain = gain;
            }
        }
    }
    return best;
}

void CLzxEncoder::Literal(uint32_t pos)
{
    m_Items.push_back({*At(pos), 0, 0});
}

void CLzxEncoder::Match(const Choice &choice)
{
    const uint16_t length = choice.Length >= 9 ? static_cast<uint16_t>(choice.Length - 9 + 1) : 0;
    if (choice.Repeat < 3) {
        m_Items.push_back({static_cast<uint16_t>(LzxMainSymbol(choice.Repeat, choice.Length)), length, 0});
        // Using R1 or R2 swaps it with R0.
        std::swap(m_R[0], m_R[choice.Repeat]);
        return;
    }
    const uint32_t formatted = choice.Offset + 2;
    const unsigned slot = LzxSlotOf(formatted);
    m_Items.push_back(
        {static_cast<uint16_t>(LzxMainSymbol(slot, choice.Length)), length, formatted - SLOT_BASES.Base[slot]});
    m_R[2] = m_R[1];
    m_R[1] = m_R[0];
    m_R[0] = choice.Offset;
}

template <class Finder>
void CLzxEncoder::ParseFrame(Finder &finder, uint32_t start, uint32_t end)
{
    m_FrameStart = start;
    const uint8_t *bytes = At(start);
    uint32_t sum = 0;
    m_LiteralSums[0] = 0;
    for (uint32_t i = 0; i < end - start; ++i) {
        sum += m_LiteralBits[bytes[i]];
        m_LiteralSums[i + 1] = sum;
    }
    uint32_t pos = start;
    Choice current = Best(finder, pos, end);
    while (pos < end) {
        if (current.Gain <= 0) {
            Literal(pos);
            ++pos;
            if (pos < end) {
                current = Best(finder, pos, end);
            }
            continue;
        }
        // Put the match off for a better one a position or two later.
        bool deferred = false;
        if (current.Length < LAZY_LIMIT) {
            for (unsigned step = 1; step <= m_LazySteps && pos + step < end; ++step) {
                const Choice later = Best(finder, pos + step, end);
                if (later.Gain > current.Gain + DEFER_BITS * static_cast<int>(step)) {
                    for (uint32_t p = pos; p < later.Pos; ++p) {
                        Literal(p);
                    }
                    pos = later.Pos;
                    current = later;
                    deferred = true;
                    break;
                }
            }
        }
        if (deferred) {
            continue;
        }
        Match(current);
        pos += current.Length;
        InsertUpTo(finder, pos);
        if (pos < end) {
            current = Best(finder, pos, end);
        }
    }
}

} // namespace Selfex
