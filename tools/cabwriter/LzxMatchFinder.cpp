// Hash-chain match finder over the LZX encoder's window.
#include "tools/cabwriter/LzxMatchFinder.h"

#include <algorithm>

namespace Selfex {

CLzxHashChains::CLzxHashChains(unsigned windowBits, uint32_t maxOffset)
    : m_MaxOffset(maxOffset), m_LinkMask((1u << windowBits) - 1), m_Heads(1u << HASH4_BITS), m_Near(1u << HASH3_BITS),
      m_Links(1u << windowBits)
{
    Reset();
}

void CLzxHashChains::Reset()
{
    // Links need no reset: a chain starts at a head and every link on it was
    // written when its position was inserted.
    std::fill(m_Heads.begin(), m_Heads.end(), NONE);
    std::fill(m_Near.begin(), m_Near.end(), NONE);
}

} // namespace Selfex
