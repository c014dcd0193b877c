// Hash-chain match finder over the LZX encoder's window.
//
// Positions are folder offsets. Every position is inserted once, in order,
// into a chain of earlier positions whose next 4 bytes hash alike, and into
// a one-entry table per 3-byte hash that finds short, near matches. The
// chains are links in an array of one entry per window byte, indexed by
// position modulo the window: a link is only followed while it reaches
// less than a window back, and those entries are never overwritten yet.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace Selfex {

// Length of the common prefix of a and b, at most limit; reads whole 8-byte
// words, so up to 7 bytes past limit must be readable.
inline uint32_t CommonLength(const uint8_t *a, const uint8_t *b, uint32_t limit)
{
    uint32_t length = 0;
    while (length < limit) {
        uint64_t x;
        uint64_t y;
        std::memcpy(&x, a + length, 8);
        std::memcpy(&y, b + length, 8);
        if (x != y) {
            // Little-endian loads: the lowest differing bit is in the first differing byte.
            length += static_cast<uint32_t>(__builtin_ctzll(x ^ y)) / 8;
            return length < limit ? length : limit;
        }
        length += 8;
    }
    return limit;
}

inline uint32_t Load32(const uint8_t *p)
{
    uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

struct LzxMatch {
    uint32_t Length = 0; // 0: none
    uint32_t Offset = 0;
};

class CLzxHashChains {
public:
    // windowBits: the window the chains span; matches reach at most maxOffset back.
    CLzxHashChains(unsigned windowBits, uint32_t maxOffset);

    // Forgets every position: a new folder starts at position 0.
    void Reset();

    // Adds position pos, whose bytes are at cur (4 of them readable).
    void Insert(const uint8_t *cur, uint32_t pos)
    {
        const uint32_t h4 = Hash4(cur);
        m_Links[pos & m_LinkMask] = m_Heads[h4];
        m_Heads[h4] = pos;
        m_Near[Hash3(cur)] = pos;
    }

    // Adds position pos and lists its earlier matches of 3 bytes or more
    // into found (room for MAX_FOUND), each longer and farther than the one
    // before, up to limit bytes (limit >= 4); returns how many. At most
    // depth chain entries are tried, and a match of nice bytes ends the search.
    static constexpr unsigned MAX_FOUND = 16;
    unsigned InsertAndFind(const uint8_t *cur, uint32_t pos, uint32_t limit, unsigned depth, uint32_t nice,
                           LzxMatch *found)
    {
        unsigned count = 0;
        uint32_t bestLength = 2;
        const uint32_t enough = nice < limit ? nice : limit;
        const uint32_t h4 = Hash4(cur);
        uint32_t candidate = m_Heads[h4];
        m_Links[pos & m_LinkMask] = candidate;
        m_Heads[h4] = pos;

        // A short match close by, from the 3-byte table.
        const uint32_t h3 = Hash3(cur);
        const uint32_t near = m_Near[h3];
        m_Near[h3] = pos;
        uint32_t distance = pos - near;
        if (distance <= m_MaxOffset && (Load32(cur - distance) ^ Load32(cur)) << 8 == 0) {
            bestLength = CommonLength(cur - distance, cur, limit);
            found[count++] = {bestLength, distance};
            if (bestLength >= enough) {
                return count;
            }
        }

        const uint32_t first = Load32(cur);
        for (unsigned tries = 0; tries < depth; ++tries) {
            distance = pos - candidate;
            if (distance > m_MaxOffset) {
                break;
            }
            const uint8_t *match = cur - distance;
            // Cheap rejection first: the byte that would make it longer, then the first four.
            if (match[bestLength] == cur[bestLength] && Load32(match) == first) {
                const uint32_t length = CommonLength(match, cur, limit);
                if (length > bestLength) {
                    bestLength = length;
                    // The list keeps its last entries: the longest matter most.
                    if (count == MAX_FOUND) {
                        std::memmove(found, found + 1, (MAX_FOUND - 1) * sizeof *found);
                        --count;
                    }
                    found[count++] = {length, distance};
                    if (length >= enough) {
                        break;
                    }
                }
            }
            candidate = m_Links[candidate & m_LinkMask];
        }
        return count;
    }

private:
    static constexpr unsigned HASH4_BITS = 17;
    static constexpr unsigned HASH3_BITS = 14;
    // No position: every distance to it is beyond any window (positions stay below 2^31).
    static constexpr uint32_t NONE = 0x80000000u;

    static uint32_t Hash4(const uint8_t *p) { return (Load32(p) * 0x9E3779B1u) >> (32 - HASH4_BITS); }
    static uint32_t Hash3(const uint8_t *p) { return ((Load32(p) << 8) * 0x9E3779B1u) >> (32 - HASH3_BITS); }

    uint32_t m_MaxOffset;
    uint32_t m_LinkMask;
    std::vector<uint32_t> m_Heads;
    std::vector<uint32_t> m_Near;
    std::vector<uint32_t> m_Links;
};

} // namespace Selfex
