// Wide text in test messages.
#pragma once

#include <string>

#include "platform/Win32.h"

// A wide text as UTF-8 for a failure message; characters beyond ASCII
// appear as \uXXXX.
inline std::string Narrow(const WCHAR *text)
{
    std::string out;
    static const char HEX[] = "0123456789ABCDEF";
    for (; *text != 0; ++text) {
        const auto unit = static_cast<unsigned>(*text);
        if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out += HEX[(unit >> shift) & 0xF];
            }
        }
    }
    return out;
}
