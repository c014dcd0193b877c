// IsSafeStoredName: the stored-name policy.
#include "cabinet/NameCheck.h"

#include <cstddef>

#include "support/WideText.h"

namespace Cabinet {

namespace {

constexpr WCHAR SEPARATOR = WIDE('\\');

bool IsDotsAndSpaces(const WCHAR *level, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (level[i] != WIDE('.') && level[i] != WIDE(' ')) {
            return false;
        }
    }
    return true;
}

bool EqualsUpperAscii(const WCHAR *text, size_t length, const char *upper)
{
    size_t i = 0;
    for (; i < length && upper[i] != 0; ++i) {
        if (WideToUpperAscii(text[i]) != static_cast<WCHAR>(upper[i])) {
            return false;
        }
    }
    return i == length && upper[i] == 0;
}

// Windows opens the device for the base name before the first dot, with
// trailing spaces ignored: "NUL", "nul.txt", "Con .log".
bool IsDeviceName(const WCHAR *level, size_t length)
{
    size_t base = 0;
    while (base < length && level[base] != WIDE('.')) {
        ++base;
    }
    while (base > 0 && level[base - 1] == WIDE(' ')) {
        --base;
    }
    static const char *const DEVICES[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *device : DEVICES) {
        if (EqualsUpperAscii(level, base, device)) {
            return true;
        }
    }
    if (base != 4 || level[3] < WIDE('1') || level[3] > WIDE('9')) {
        return false;
    }
    return EqualsUpperAscii(level, 3, "COM") || EqualsUpperAscii(level, 3, "LPT");
}

bool IsSafeLevel(const WCHAR *level, size_t length)
{
    return length != 0 && !IsDotsAndSpaces(level, length) && !IsDeviceName(level, length);
}

} // namespace

bool IsSafeStoredName(const WCHAR *relPath)
{
    const size_t length = WideLength(relPath);
    for (size_t i = 0; i < length; ++i) {
        if (relPath[i] == WIDE(':')) {
            return false;
        }
    }
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && relPath[i] != SEPARATOR) {
            continue;
        }
        // The empty text after a final separator is no level; a leading,
        // doubled or lone separator leaves an empty level and is refused.
        const bool trailing = i == length && start == length && start != 0;
        if (!trailing && !IsSafeLevel(relPath + start, i - start)) {
            return false;
        }
        start = i + 1;
    }
    return true;
}

} // namespace Cabinet
