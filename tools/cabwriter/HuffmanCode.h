// Length-limited Huffman code lengths and canonical codes, for the LZX trees.
#pragma once

#include <cstdint>

namespace Selfex {

// Code lengths for count symbols (at most 1024) with the given frequencies,
// none longer than maxLength (which must allow a code over all count
// symbols). Unused symbols get 0. The code is always complete, since
// decoders refuse any other: with no symbol used every length is 0; with one,
// a spare symbol gets a code beside it.
void BuildCodeLengths(const uint32_t *frequencies, unsigned count, unsigned maxLength, uint8_t *lengths);

// Canonical codes of a set of lengths: shorter codes first, equal lengths in
// symbol order; each code is sent from its highest bit.
void BuildCanonicalCodes(const uint8_t *lengths, unsigned count, uint16_t *codes);

} // namespace Selfex
