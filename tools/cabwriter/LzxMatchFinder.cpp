// Match finders over the LZX encoder's window.
#include "tools/cabwriter/LzxMatchFinder.h"

#include <algorithm>
#include <cstddef>

namespace Selfex {

namespace {

// Rows for a table of 2^tableBits bytes: 3/4 as many entries as bytes
// (fewer rows lose matches that have dropped out of a full row).
unsigned RowBits(unsigned tableBits)
{
    return tableBits - 5;
}

// Chain heads for a table of 2^tableBits bytes: one per two bytes, at most
// 2^20 (more do not find more).
unsigned HeadBits(unsigned tableBits)
{
    return std::min(tableBits - 1, 20u);
}

} // namespace

CLzxHashRows::CLzxHashRows(unsigned windowBits, uint32_t maxOffset)
    : m_MaxOffset(maxOffset), m_RowShift(64), m_Rows(size_t{1} << RowBits(windowBits))
{
    Reset(windowBits);
}

void CLzxHashRows::Reset(unsigned tableBits)
{
    const size_t rows = std::min(size_t{1} << RowBits(tableBits), m_Rows.size());
    m_RowShift = 64 - static_cast<unsigned>(__builtin_ctzll(rows));
    Row empty{};
    std::fill(std::begin(empty.Pos), std::end(empty.Pos), CLzxNearTable::LZX_NO_POSITION);
    std::fill(m_Rows.begin(), m_Rows.begin() + static_cast<ptrdiff_t>(rows), empty);
    m_Near.Reset();
}

CLzxHashChains::CLzxHashChains(unsigned windowBits, uint32_t maxOffset)
    : m_MaxOffset(maxOffset), m_LinkMask((1u << windowBits) - 1), m_Heads(size_t{1} << HeadBits(windowBits)),
      m_Links(1u << windowBits)
{
    Reset(windowBits);
}

void CLzxHashChains::Reset(unsigned tableBits)
{
    const size_t heads = std::min(size_t{1} << HeadBits(tableBits), m_Heads.size());
    m_HeadShift = 64 - static_cast<unsigned>(__builtin_ctzll(heads));
    // Links need no reset: a chain starts at a head and every link on it was
    // written when its position was inserted.
    std::fill(m_Heads.begin(), m_Heads.begin() + static_cast<ptrdiff_t>(heads), CLzxNearTable::LZX_NO_POSITION);
    m_Near.Reset();
}

} // namespace Selfex
