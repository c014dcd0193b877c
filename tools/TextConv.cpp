// Text conversions of the selfex tool.
#include "tools/TextConv.h"

#include <vector>

namespace Selfex {

bool IsValidUtf8(std::string_view text)
{
    // The strict conversion refuses exactly the ill-formed sequences.
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

WideString Utf8ToWide(std::string_view text)
{
    if (text.empty()) {
        return WideString();
    }
    // A UTF-8 text never has more UTF-16 units than bytes.
    std::vector<WCHAR> wide(text.size() + 1);
    int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size()));
    return WideString(wide.data(), count > 0 ? static_cast<size_t>(count) : 0);
}

std::string WideToUtf8(const WCHAR *text)
{
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    if (length == 0) {
        return std::string();
    }
    // At most 3 bytes per UTF-16 unit.
    std::vector<char> narrow(3 * length + 1);
    int count = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), narrow.data(),
                                    static_cast<int>(narrow.size()), nullptr, nullptr);
    return std::string(narrow.data(), count > 0 ? static_cast<size_t>(count) : 0);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix)
{
    if (text.size() < suffix.size()) {
        return false;
    }
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (lower(text[text.size() - suffix.size() + i]) != lower(suffix[i])) {
            return false;
        }
    }
    return true;
}

WideString ToPlatformPath(const std::string &path)
{
    WideString wide = Utf8ToWide(path);
    for (WCHAR &ch : wide) {
        if (ch == '/') {
            ch = '\\';
        }
    }
    return wide;
}

std::string FromPlatformPath(const WCHAR *path)
{
    std::string text = WideToUtf8(path);
    for (char &c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

} // namespace Selfex
