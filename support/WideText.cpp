// Small helpers on zero-terminated wide (UTF-16) texts.
#include "support/WideText.h"

size_t WideLength(const WCHAR *text)
{
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

bool WideCopy(WCHAR *target, size_t targetSize, const WCHAR *source)
{
    if (targetSize == 0) {
        return false;
    }
    size_t i = 0;
    for (; i + 1 < targetSize && source[i] != 0; ++i) {
        target[i] = source[i];
    }
    target[i] = 0;
    return source[i] == 0;
}

WCHAR WideToUpperAscii(WCHAR ch)
{
    return (ch >= u'a' && ch <= u'z') ? static_cast<WCHAR>(ch - (u'a' - u'A')) : ch;
}

namespace {

// One ordering loop for both comparisons; fold maps each code unit first.
template <typename Fold>
int CompareFolded(const WCHAR *left, const WCHAR *right, Fold fold)
{
    for (;; ++left, ++right) {
        const WCHAR a = fold(*left);
        const WCHAR b = fold(*right);
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (a == 0) {
            return 0;
        }
    }
}

} // namespace

int WideCompare(const WCHAR *left, const WCHAR *right)
{
    return CompareFolded(left, right, [](WCHAR ch) { return ch; });
}

int WideCompareNoCase(const WCHAR *left, const WCHAR *right)
{
    return CompareFolded(left, right, WideToUpperAscii);
}

const WCHAR *WideFindLast(const WCHAR *text, WCHAR ch)
{
    const WCHAR *found = nullptr;
    for (;; ++text) {
        if (*text == ch) {
            found = text;
        }
        if (*text == 0) {
            return found;
        }
    }
}

WCHAR *WideFindLast(WCHAR *text, WCHAR ch)
{
    return const_cast<WCHAR *>(WideFindLast(static_cast<const WCHAR *>(text), ch));
}

void WideUpperAscii(WCHAR *text)
{
    for (; *text != 0; ++text) {
        *text = WideToUpperAscii(*text);
    }
}
