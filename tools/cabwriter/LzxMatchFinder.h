// Match finders over the LZX encoder's window.
//
// Positions are folder offsets. Every position is inserted once, in order,
// with 8 bytes of data readable from it, into a table keyed by a hash of its
// next 5 bytes, and into a one-entry table per 3-byte hash that finds short,
// near matches. Two tables of candidates:
// - Hash rows keep, per hash, the 24 latest positions in two cache lines
//   with 8 more bits of hash each. A search reads one row and compares with
//   the window only where those bits agree; the candidates' window reads do
//   not depend on each other, so their cache misses overlap. Fast, and as
//   deep as the lower levels need.
// - Hash chains link every position to the previous one of the same hash,
//   in an array of one entry per window byte indexed by position modulo the
//   window: a link is only followed while it reaches less than a window
//   back, and those entries are never overwritten yet. Each step waits for
//   the last, but a chain can be followed as far as the window reaches.
#pragma once

#include <cstdint>
#include <algorithm>
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

// Bytes that must be readable at an inserted position.
constexpr uint32_t LZX_FINDER_LOOKAHEAD = 8;

// A 64-bit hash of the 5 bytes at p (8 readable): the finders take its top bits.
inline uint64_t Hash5(const uint8_t *p)
{
    uint64_t value;
    std::memcpy(&value, p, 8);
    return (value << 24) * 0x9E3779B97F4A7C15ull;
}

struct LzxMatch {
    uint32_t Length = 0; // 0: none
    uint32_t Offset = 0;
};

// Most matches a finder lists for one position.
constexpr unsigned LZX_MAX_FOUND = 16;

// Adds a match to a list of ever longer ones; when full, the shortest goes.
inline void AddFound(LzxMatch *found, unsigned &count, uint32_t length, uint32_t distance)
{
    if (count == LZX_MAX_FOUND) {
        std::memmove(found, found + 1, (LZX_MAX_FOUND - 1) * sizeof *found);
        --count;
    }
    found[count++] = {length, distance};
}

// The latest position per hash of 3 bytes: short matches close by.
class CLzxNearTable {
public:
    void Reset() { std::fill(m_Latest.begin(), m_Latest.end(), LZX_NO_POSITION); }

    // Adds pos and returns the previous position with the same hash.
    uint32_t Swap(const uint8_t *cur, uint32_t pos)
    {
        const uint32_t h = ((Load32(cur) << 8) * 0x9E3779B1u) >> (32 - BITS);
        const uint32_t previous = m_Latest[h];
        m_Latest[h] = pos;
        return previous;
    }

    // No position: every distance to it is beyond any window (positions stay below 2^31).
    static constexpr uint32_t LZX_NO_POSITION = 0x80000000u;

private:
    static constexpr unsigned BITS = 14;
    std::vector<uint32_t> m_Latest = std::vector<uint32_t>(1u << BITS, LZX_NO_POSITION);
};

// Both finders: Reset(tableBits) forgets every position (a new folder
// starts at 0) and sizes the hash table for a folder of up to 2^tableBits
// bytes (15 up to the window's bits), so that small folders cost little;
// Insert(cur, pos) adds position pos, whose bytes are at cur; Prefetch(cur)
// asks for the memory a later Insert at cur will touch; InsertAndFind adds
// pos and lists its earlier matches of 3 bytes or more into found (room for
// LZX_MAX_FOUND), each longer and farther than the one before, up to limit
// bytes, and returns how many. It tries at most depth candidates of the
// hash table, and a match of nice bytes ends the search.

class CLzxHashRows {
public:
    // windowBits: the window; matches reach at most maxOffset back.
    CLzxHashRows(unsigned windowBits, uint32_t maxOffset);
    void Reset(unsigned tableBits);

    void Prefetch(const uint8_t *cur) const
    {
        const Row *row = &m_Rows[RowOf(Hash5(cur))];
        __builtin_prefetch(row);
        __builtin_prefetch(row->Tag);
    }

    void Insert(const uint8_t *cur, uint32_t pos)
    {
        const uint64_t h = Hash5(cur);
        Row &row = m_Rows[RowOf(h)];
        row.Newest = static_cast<uint8_t>(row.Newest == 0 ? ENTRIES - 1 : row.Newest - 1);
        row.Pos[row.Newest] = pos;
        row.Tag[row.Newest] = TagOf(h);
        m_Near.Swap(cur, pos);
    }

    unsigned InsertAndFind(const uint8_t *cur, uint32_t pos, uint32_t limit, unsigned depth, uint32_t nice,
                           LzxMatch *found)
    {
        unsigned count = 0;
        uint32_t bestLength = 2;
        const uint32_t enough = nice < limit ? nice : limit;
        const uint64_t h = Hash5(cur);
        Row &row = m_Rows[RowOf(h)];
        const uint8_t tag = TagOf(h);
        // Entries whose tag agrees, newest first.
        unsigned mask = 0;
        for (unsigned i = 0; i < ENTRIES; ++i) {
            mask |= static_cast<unsigned>(row.Tag[i] == tag) << i;
        }
        const unsigned newest = row.Newest;
        mask = (mask >> newest | mask << (ENTRIES - newest)) & ((1u << ENTRIES) - 1);
        uint32_t candidates[ENTRIES];
        unsigned tries = 0;
        for (; mask != 0 && tries < depth; mask &= mask - 1) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(mask)) + newest;
            candidates[tries++] = row.Pos[k < ENTRIES ? k : k - ENTRIES];
        }
        row.Newest = static_cast<uint8_t>(newest == 0 ? ENTRIES - 1 : newest - 1);
        row.Pos[row.Newest] = pos;
        row.Tag[row.Newest] = tag;

        // A short match close by, from the 3-byte table.
        uint32_t distance = pos - m_Near.Swap(cur, pos);
        if (distance <= m_MaxOffset && (Load32(cur - distance) ^ Load32(cur)) << 8 == 0) {
            bestLength = CommonLength(cur - distance, cur, limit);
            AddFound(found, count, bestLength, distance);
            if (bestLength >= enough) {
                return count;
            }
        }
        const uint32_t first = Load32(cur);
        for (unsigned i = 0; i < tries; ++i) {
            distance = pos - candidates[i];
            if (distance > m_MaxOffset) {
                break; // older entries lie farther back
            }
            const uint8_t *match = cur - distance;
            if (match[bestLength] == cur[bestLength] && Load32(match) == first) {
                const uint32_t length = CommonLength(match, cur, limit);
                if (length > bestLength) {
                    bestLength = length;
                    AddFound(found, count, length, distance);
                    if (length >= enough) {
                        break;
                    }
                }
            }
        }
        return count;
    }

private:
    static constexpr unsigned ENTRIES = 24;
    // Two cache lines: the positions, their tags, and the newest entry's index.
    struct alignas(128) Row {
        uint32_t Pos[ENTRIES];
        uint8_t Tag[ENTRIES];
        uint8_t Newest;
    };
    static_assert(sizeof(Row) == 128, "a row fills two cache lines");

    size_t RowOf(uint64_t h) const { return static_cast<size_t>(h >> m_RowShift); }
    uint8_t TagOf(uint64_t h) const { return static_cast<uint8_t>(h >> (m_RowShift - 8)); }

    uint32_t m_MaxOffset;
    unsigned m_RowShift;
    std::vector<Row> m_Rows;
    CLzxNearTable m_Near;
};

class CLzxHashChains {
public:
    // windowBits: the window the chains span; matches reach at most maxOffset back.
    CLzxHashChains(unsigned windowBits, uint32_t maxOffset);
    void Reset(unsigned tableBits);

    void Prefetch(const uint8_t *cur) const { __builtin_prefetch(&m_Heads[HeadOf(cur)]); }

    void Insert(const uint8_t *cur, uint32_t pos)
    {
        const uint32_t h = HeadOf(cur);
        m_Links[pos & m_LinkMask] = m_Heads[h];
        m_Heads[h] = pos;
        m_Near.Swap(cur, pos);
    }

    unsigned InsertAndFind(const uint8_t *cur, uint32_t pos, uint32_t limit, unsigned depth, uint32_t nice,
                           LzxMatch *found)
    {
        unsigned count = 0;
        uint32_t bestLength = 2;
        const uint32_t enough = nice < limit ? nice : limit;
        const uint32_t h = HeadOf(cur);
        uint32_t candidate = m_Heads[h];
        m_Links[pos & m_LinkMask] = candidate;
        m_Heads[h] = pos;

        // A short match close by, from the 3-byte table.
        uint32_t distance = pos - m_Near.Swap(cur, pos);
        if (distance <= m_MaxOffset && (Load32(cur - distance) ^ Load32(cur)) << 8 == 0) {
            bestLength = CommonLength(cur - distance, cur, limit);
            AddFound(found, count, bestLength, distance);
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
                    AddFound(found, count, length, distance);
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
    uint32_t HeadOf(const uint8_t *p) const { return static_cast<uint32_t>(Hash5(p) >> m_HeadShift); }

    uint32_t m_MaxOffset;
    unsigned m_HeadShift = 0;
    uint32_t m_LinkMask;
    std::vector<uint32_t> m_Heads;
    std::vector<uint32_t> m_Links;
    CLzxNearTable m_Near;
};

} // namespace Selfex
