// The name rule: levels, characters, device names and lengths.
#include "cabinet/NameCheck.h"

#include "cabinet/CaseFold.h"
#include "support/WideText.h"

namespace Cabinet {

namespace {

bool IsSeparator(WCHAR ch)
{
    return ch == WIDE('\\') || ch == WIDE('/');
}

// Compares length units of text with a lower-case ASCII word, ignoring
// letter case as the file system does.
bool EqualsFolded(const WCHAR *text, size_t length, const char *word)
{
    size_t i = 0;
    for (; i < length && word[i] != 0; ++i) {
        if (FoldCase(text[i]) != static_cast<WCHAR>(word[i])) {
            return false;
        }
    }
    return i == length && word[i] == 0;
}

// Windows opens the device for a level whose part before the first dot,
// without trailing spaces, is a device name: "NUL", "nul.txt", "Con .log".
// The digits of COM and LPT include the superscripts 1 to 3.
bool IsDeviceName(const WCHAR *level, size_t length)
{
    size_t base = 0;
    while (base < length && level[base] != WIDE('.')) {
        ++base;
    }
    while (base > 0 && level[base - 1] == WIDE(' ')) {
        --base;
    }
    static const char *const DEVICES[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char *device : DEVICES) {
        if (EqualsFolded(level, base, device)) {
            return true;
        }
    }
    if (base != 4 || !(EqualsFolded(level, 3, "com") || EqualsFolded(level, 3, "lpt"))) {
        return false;
    }
    const WCHAR digit = level[3];
    return (digit >= WIDE('0') && digit <= WIDE('9')) || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

} // namespace

NameRule CheckNameLevel(const WCHAR *level, size_t length)
{
    if (length == 0) {
        return NameRule::EmptyLevel;
    }
    if ((length == 1 && level[0] == WIDE('.')) || (length == 2 && level[0] == WIDE('.') && level[1] == WIDE('.'))) {
        return NameRule::DotLevel;
    }
    for (size_t i = 0; i < length; ++i) {
        const WCHAR ch = level[i];
        if (IsSeparator(ch)) {
            return NameRule::Separator;
        }
        if (ch == WIDE(':')) {
            return NameRule::Colon;
        }
        if (ch < 0x20) {
            return NameRule::ControlCharacter;
        }
        if (ch == WIDE('<') || ch == WIDE('>') || ch == WIDE('"') || ch == WIDE('|') || ch == WIDE('?') ||
            ch == WIDE('*')) {
            return NameRule::ReservedCharacter;
        }
    }
    if (level[length - 1] == WIDE('.') || level[length - 1] == WIDE(' ')) {
        return NameRule::TrailingDotOrSpace;
    }
    if (IsDeviceName(level, length)) {
        return NameRule::DeviceName;
    }
    return length > MAX_NAME_LEVEL ? NameRule::LevelTooLong : NameRule::Accepted;
}

NameRule CheckStoredName(const WCHAR *relPath)
{
    const size_t length = WideLength(relPath);
    if (length != 0 && IsSeparator(relPath[0])) {
        return NameRule::Absolute;
    }
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && !IsSeparator(relPath[i])) {
            continue;
        }
        // The empty text after one final separator is no level.
        const bool trailing = i == length && start == length && start != 0;
        if (!trailing) {
            const NameRule rule = CheckNameLevel(relPath + start, i - start);
            if (rule != NameRule::Accepted) {
                return rule;
            }
        }
        start = i + 1;
    }
    return NameRule::Accepted;
}

NameRule CheckSetMemberName(const WCHAR *name)
{
    return CheckNameLevel(name, WideLength(name));
}

NameRule CheckOutputPath(size_t destinationLength, const WCHAR *relPath)
{
    const size_t length = WideLength(relPath);
    size_t folder = length;
    while (folder > 0 && !IsSeparator(relPath[folder - 1])) {
        --folder;
    }
    // The folder without its final separator, as CreateDirectoryW gets it.
    const size_t folderPath = destinationLength + (folder > 0 ? folder - 1 : 0);
    if (destinationLength + length > MAX_OUTPUT_PATH || (folder > 0 && folderPath > MAX_OUTPUT_FOLDER)) {
        return NameRule::PathTooLong;
    }
    return NameRule::Accepted;
}

bool IsSafeStoredName(const WCHAR *relPath)
{
    return CheckStoredName(relPath) == NameRule::Accepted;
}

} // namespace Cabinet
