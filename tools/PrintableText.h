// Text from cabinets and file systems made safe to print: a stored name must
// not send escape sequences to the terminal or forge an extra output line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Selfex {

// The well-formed UTF-8 sequence at text[at]: its length in bytes (1 to 4),
// with its code point in codePoint; 0 when the bytes there are ill-formed
// (a stray continuation byte, an overlong form, a surrogate, beyond
// U+10FFFF, or cut short).
size_t DecodeUtf8At(std::string_view text, size_t at, uint32_t &codePoint);

// True for the code points that are never printed as they are: C0 and C1
// controls, DEL, and the bidirectional controls that reorder the text
// around them (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069).
bool IsUnprintableCodePoint(uint32_t codePoint);

// text for a terminal or a log: well-formed UTF-8 stays as it is; newline,
// tab and carriage return become "\n", "\t", "\r"; other controls and every
// byte of ill-formed UTF-8 become "\xNN" (per byte); bidirectional controls
// become "\uNNNN". A backslash stays as it is (stored names separate their
// folders with it), so the result is for reading; scripts take --json.
std::string PrintableText(std::string_view text);

} // namespace Selfex
