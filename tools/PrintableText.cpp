// Text made safe to print.
#include "tools/PrintableText.h"

#include <cstdio>

namespace Selfex {

namespace {

bool IsContinuation(uint8_t byte)
{
    return (byte & 0xC0) == 0x80;
}

std::string HexEscape(const char *format, uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    return text;
}

} // namespace

size_t DecodeUtf8At(std::string_view text, size_t at, uint32_t &codePoint)
{
    const auto lead = static_cast<uint8_t>(text[at]);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    // The sequence length from the lead byte, and the smallest code point
    // of that length (anything below is an overlong form).
    size_t length;
    uint32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<uint8_t>(text[at + i]);
        if (!IsContinuation(byte)) {
            return 0;
        }
        codePoint = codePoint << 6 | (byte & 0x3Fu);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < minimum || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

bool IsUnprintableCodePoint(uint32_t codePoint)
{
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x061C || codePoint == 0x200E ||
           codePoint == 0x200F || (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

std::string PrintableText(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        uint32_t codePoint = 0;
        const size_t length = DecodeUtf8At(text, at, codePoint);
        if (length == 0) {
            shown += HexEscape("\\x%02x", static_cast<uint8_t>(text[at]));
            ++at;
            continue;
        }
        if (!IsUnprintableCodePoint(codePoint)) {
            shown.append(text.substr(at, length));
        } else if (codePoint == '\n' || codePoint == '\t' || codePoint == '\r') {
            shown += codePoint == '\n' ? "\\n" : codePoint == '\t' ? "\\t" : "\\r";
        } else if (codePoint < 0x100) {
            // C0, DEL and C1 controls byte by byte, as they are stored.
            for (size_t i = 0; i < length; ++i) {
                shown += HexEscape("\\x%02x", static_cast<uint8_t>(text[at + i]));
            }
        } else {
            shown += HexEscape("\\u%04x", codePoint);
        }
        at += length;
    }
    return shown;
}

} // namespace Selfex
