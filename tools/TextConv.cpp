// Text conversions of the selfex tool.
#include "tools/TextConv.h"

#include <vector>

namespace Selfex {

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t point;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            extra = 1;
            point = byte & 0x1Fu;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            extra = 2;
            point = byte & 0x0Fu;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            extra = 3;
            point = byte & 0x07u;
        } else {
            return false; // a continuation byte, C0/C1 (always overlong) or F5-FF
        }
        if (text.size() - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = point << 6 | (next & 0x3Fu);
        }
        // Shortest form only; no surrogates; nothing above U+10FFFF.
        if ((extra == 2 && point < 0x800) || (extra == 3 && point < 0x10000) ||
            (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

WideString Utf8ToWide(std::string_view text)
{
    if (text.empty())
        return WideString();
    // A UTF-8 text never has more UTF-16 units than bytes.
    std::vector<WCHAR> wide(text.size() + 1);
    int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size()));
    return WideString(wide.data(), count > 0 ? static_cast<size_t>(count) : 0);
}

std::string WideToUtf8(const WCHAR *text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    if (length == 0)
        return std::string();
    // At most 3 bytes per UTF-16 unit.
    std::vector<char> narrow(3 * length + 1);
    int count = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(),
                                    static_cast<int>(narrow.size()), nullptr, nullptr);
    return std::string(narrow.data(), count > 0 ? static_cast<size_t>(count) : 0);
}

WideString ToPlatformPath(const std::string &path)
{
    WideString wide = Utf8ToWide(path);
    for (WCHAR &ch : wide) {
        if (ch == '/')
            ch = '\\';
    }
    return wide;
}

} // namespace Selfex
