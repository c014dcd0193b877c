// Length-limited Huffman code lengths and canonical codes.
#include "tools/cabwriter/HuffmanCode.h"

#include <algorithm>
#include <cassert>

namespace Selfex {

namespace {

constexpr unsigned MAX_SYMBOLS = 1024;
constexpr unsigned SYMBOL_BITS = 10;

// Depths of the leaves of a Huffman tree over weights sorted ascending,
// built with the two-queue method: leaves and the internal nodes (made in
// ascending order of weight) are merged two by two. Returns the deepest.
unsigned HuffmanDepths(const uint64_t *weights, unsigned leaves, uint8_t *depths)
{
    uint64_t nodeWeight[MAX_SYMBOLS];
    uint16_t parent[2 * MAX_SYMBOLS];
    unsigned nextLeaf = 0;
    unsigned nextNode = 0;
    // Takes the lighter of the next leaf and the next internal node;
    // internal node i has index leaves + i.
    auto takeLightest = [&](unsigned made) {
        if (nextLeaf < leaves && (nextNode >= made || weights[nextLeaf] <= nodeWeight[nextNode])) {
            return nextLeaf++;
        }
        return leaves + nextNode++;
    };
    auto weightOf = [&](unsigned index) { return index < leaves ? weights[index] : nodeWeight[index - leaves]; };
    for (unsigned made = 0; made + 1 < leaves; ++made) {
        const unsigned a = takeLightest(made);
        const unsigned b = takeLightest(made);
        nodeWeight[made] = weightOf(a) + weightOf(b);
        parent[a] = static_cast<uint16_t>(leaves + made);
        parent[b] = static_cast<uint16_t>(leaves + made);
    }
    // Depths from the root (the last node made) down; parents come later.
    uint8_t depth[2 * MAX_SYMBOLS];
    const unsigned root = 2 * leaves - 2;
    depth[root] = 0;
    unsigned deepest = 0;
    for (unsigned i = root; i-- > 0;) {
        depth[i] = static_cast<uint8_t>(depth[parent[i]] + 1);
        if (i < leaves) {
            depths[i] = depth[i];
            deepest = std::max<unsigned>(deepest, depth[i]);
        }
    }
    return deepest;
}

} // namespace

void BuildCodeLengths(const uint32_t *frequencies, unsigned count, unsigned maxLength, uint8_t *lengths)
{
    assert(count <= MAX_SYMBOLS && (1u << maxLength) >= count && "the code must fit its length limit");
    // Symbols in use, sorted by frequency then symbol: frequency above the
    // symbol bits of one word.
    uint64_t keys[MAX_SYMBOLS];
    unsigned used = 0;
    for (unsigned sym = 0; sym < count; ++sym) {
        lengths[sym] = 0;
        if (frequencies[sym] != 0) {
            keys[used++] = uint64_t{frequencies[sym]} << SYMBOL_BITS | sym;
        }
    }
    if (used == 0) {
        return;
    }
    if (used == 1) {
        const unsigned only = keys[0] & (MAX_SYMBOLS - 1);
        lengths[only] = 1;
        lengths[only == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(keys, keys + used);

    uint64_t weights[MAX_SYMBOLS];
    for (unsigned i = 0; i < used; ++i) {
        weights[i] = keys[i] >> SYMBOL_BITS;
    }
    uint8_t depths[MAX_SYMBOLS];
    // Too deep: flatten the weights (halving, never below 1) and build again;
    // equal weights give depths of at most log2(count) + 1, within any limit
    // the assertion accepts. Halving keeps the order, so keys stay sorted.
    while (HuffmanDepths(weights, used, depths) > maxLength) {
        for (unsigned i = 0; i < used; ++i) {
            weights[i] = weights[i] >> 1 | 1;
        }
    }
    for (unsigned i = 0; i < used; ++i) {
        lengths[keys[i] & (MAX_SYMBOLS - 1)] = depths[i];
    }
}

void BuildCanonicalCodes(const uint8_t *lengths, unsigned count, uint16_t *codes)
{
    unsigned perLength[17] = {};
    for (unsigned sym = 0; sym < count; ++sym) {
        ++perLength[lengths[sym]];
    }
    perLength[0] = 0;
    uint32_t next[17];
    uint32_t code = 0;
    for (unsigned len = 1; len <= 16; ++len) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned sym = 0; sym < count; ++sym) {
        codes[sym] = lengths[sym] ? static_cast<uint16_t>(next[lengths[sym]]++) : 0;
    }
}

} // namespace Selfex
