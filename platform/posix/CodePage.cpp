// Code-page conversion: MultiByteToWideChar (UTF-8, 1252) and
// WideCharToMultiByte (UTF-8), with Windows' argument checks and results.
//
// Malformed UTF-8 becomes U+FFFD, one per rejected prefix. The decoder takes
// a lead byte with every continuation byte that follows it, and rejects the
// prefix taken so far as soon as it is malformed: a missing or non-
// continuation byte ends it (that byte is read again as a new lead), while
// an overlong form, a surrogate or a value above U+10FFFF is recognised at
// the first continuation byte, which then belongs to the rejected prefix.
// So "E0 80 80" gives two U+FFFD and "F0 9F 98 41" gives U+FFFD "A", the
// counts Windows' converter (as Wine implements it) produces.
#include <cstring>

#include "platform/posix/HostBridge.h"

namespace {

constexpr char32_t REJECTED = 0xFFFFFFFF;
constexpr char16_t REPLACEMENT = 0xFFFD;

// Code page 1252 differs from Latin-1 only in 0x80-0x9F. The five bytes the
// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control of the same value, as on Windows.
constexpr char16_t CP1252_HIGH_CONTROLS[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

// Whether the value built from a lead byte and its first continuation byte
// can still become a valid scalar value of a sequence with trailCount
// continuation bytes.
bool IsPlausiblePrefix(int trailCount, char32_t value)
{
    if (trailCount == 2) {
        return value >= 0x20 && !(value >= 0x360 && value < 0x380); // not overlong, not D800-DFFF
    }
    if (trailCount == 3) {
        return value >= 0x10 && value < 0x110; // not overlong, not above 10FFFF
    }
    return true; // C2-DF leads cannot be overlong
}

// Decodes one character at text[*pos], advancing *pos past the bytes used.
char32_t DecodeUtf8Char(const unsigned char *text, size_t length, size_t *pos)
{
    const unsigned char lead = text[(*pos)++];
    if (lead < 0x80) {
        return lead;
    }
    int trailCount;
    char32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailCount = 1;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailCount = 2;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailCount = 3;
        value = lead & 0x07u;
    } else {
        return REJECTED; // a stray continuation byte, C0, C1 or F5-FF
    }
    for (int i = 0; i < trailCount; ++i) {
        if (*pos >= length || (text[*pos] & 0xC0) != 0x80) {
            return REJECTED;
        }
        value = (value << 6) | (text[(*pos)++] & 0x3Fu);
        if (i == 0 && !IsPlausiblePrefix(trailCount, value)) {
            return REJECTED;
        }
    }
    return value;
}

void AppendUtf16(std::u16string &out, char32_t ch)
{
    if (ch < 0x10000) {
        out.push_back(static_cast<char16_t>(ch));
        return;
    }
    ch -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (ch >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (ch & 0x3FF)));
}

// Decodes UTF-8; false when strict and a sequence is malformed.
bool DecodeUtf8(const unsigned char *text, size_t length, bool strict, std::u16string &out)
{
    for (size_t pos = 0; pos < length;) {
        const char32_t ch = DecodeUtf8Char(text, length, &pos);
        if (ch == REJECTED && strict) {
            return false;
        }
        AppendUtf16(out, ch == REJECTED ? REPLACEMENT : ch);
    }
    return true;
}

void DecodeCp1252(const unsigned char *text, size_t length, std::u16string &out)
{
    for (size_t i = 0; i < length; ++i) {
        const unsigned char byte = text[i];
        out.push_back(byte >= 0x80 && byte < 0xA0 ? CP1252_HIGH_CONTROLS[byte - 0x80] : char16_t{byte});
    }
}

void AppendUtf8(std::string &out, char32_t ch)
{
    if (ch < 0x80) {
        out.push_back(static_cast<char>(ch));
    } else if (ch < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (ch >> 6)));
        out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    } else if (ch < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (ch >> 12)));
        out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (ch >> 18)));
        out.push_back(static_cast<char>(0x80 | ((ch >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    }
}

// The argument checks both directions share. Returns 0 when the arguments
// are acceptable, else the Win32 error.
DWORD CheckConversionArguments(const void *source, int sourceLength, const void *target, int targetLength)
{
    if (source == nullptr || sourceLength == 0 || targetLength < 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if (target == nullptr && targetLength > 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if (target != nullptr && target == source) {
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

// Delivers a converted text with the conversion functions' contract: the
// size when targetLength is 0, else the count copied, or 0 with
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
template <typename Text, typename Char>
int DeliverConverted(const Text &converted, Char *target, int targetLength)
{
    if (converted.size() > static_cast<size_t>(INT32_MAX)) {
        return Host::Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    const int size = static_cast<int>(converted.size());
    if (targetLength == 0) {
        return size;
    }
    if (size > targetLength) {
        return Host::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(target, converted.data(), converted.size() * sizeof(Char));
    return size;
}

} // namespace

namespace Host {

bool Utf16ToUtf8(const WCHAR *text, size_t length, bool strict, std::string &out)
{
    for (size_t i = 0; i < length; ++i) {
        char32_t ch = text[i];
        if (ch >= 0xD800 && ch < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            ch = 0x10000 + ((ch - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (ch >= 0xD800 && ch < 0xE000) {
            if (strict) {
                return false;
            }
            ch = REPLACEMENT;
        }
        AppendUtf8(out, ch);
    }
    return true;
}

std::u16string Utf8ToUtf16(const std::string &text)
{
    std::u16string out;
    DecodeUtf8(reinterpret_cast<const unsigned char *>(text.data()), text.size(), false, out);
    return out;
}

} // namespace Host

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR target, int targetLength)
{
    const DWORD invalid = CheckConversionArguments(source, sourceLength, target, targetLength);
    if (invalid != ERROR_SUCCESS) {
        return Host::Fail(invalid);
    }
    if (codePage != CP_UTF8 && codePage != 1252 && codePage != CP_ACP) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    if ((flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
        return Host::Fail(ERROR_INVALID_FLAGS);
    }

    // A negative length (-1 by convention) takes the terminator along, and
    // counts it.
    const size_t length = sourceLength < 0 ? std::strlen(source) + 1 : static_cast<size_t>(sourceLength);
    const auto *bytes = reinterpret_cast<const unsigned char *>(source);
    std::u16string converted;
    if (codePage == CP_UTF8) {
        if (!DecodeUtf8(bytes, length, (flags & MB_ERR_INVALID_CHARS) != 0, converted)) {
            return Host::Fail(ERROR_NO_UNICODE_TRANSLATION);
        }
    } else {
        // Every byte is defined in 1252 (see the table), so nothing is invalid.
        DecodeCp1252(bytes, length, converted);
    }
    return DeliverConverted(converted, target, targetLength);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, char *target, int targetLength,
                        LPCSTR defaultChar, BOOL *usedDefault)
{
    const DWORD invalid = CheckConversionArguments(source, sourceLength, target, targetLength);
    if (invalid != ERROR_SUCCESS) {
        return Host::Fail(invalid);
    }
    // UTF-8 has no default character: Windows refuses both arguments.
    if (codePage != CP_UTF8 || defaultChar != nullptr || usedDefault != nullptr) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    if ((flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
        return Host::Fail(ERROR_INVALID_FLAGS);
    }

    size_t length = static_cast<size_t>(sourceLength);
    if (sourceLength < 0) {
        length = 1;
        while (source[length - 1] != 0) {
            ++length;
        }
    }
    std::string converted;
    if (!Host::Utf16ToUtf8(source, length, (flags & WC_ERR_INVALID_CHARS) != 0, converted)) {
        return Host::Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    return DeliverConverted(converted, target, targetLength);
}
