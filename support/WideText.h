// Small helpers on zero-terminated wide (UTF-16) texts.
//
// The shared code uses these instead of the C library's wcs* functions,
// which on Linux work on the 32-bit wchar_t and not on our 16-bit WCHAR.
// Every text argument must be non-null and zero-terminated.
#pragma once

#include <cstddef>

#include "platform/Win32.h"

// Number of characters before the terminator.
size_t WideLength(const WCHAR *text);

// Copies source into target, a buffer of targetSize characters, cutting the
// text so that the terminator always fits. Returns true when the whole text
// fit, false when it was cut or targetSize is 0 (target untouched then).
bool WideCopy(WCHAR *target, size_t targetSize, const WCHAR *source);

// Orders two texts by their code units: < 0, 0 or > 0 like strcmp.
int WideCompare(const WCHAR *left, const WCHAR *right);

// As WideCompare, but the ASCII letters a-z compare equal to A-Z. Other
// characters (accented letters included) compare by code unit, which is
// what Windows file names need for the texts this program compares.
int WideCompareNoCase(const WCHAR *left, const WCHAR *right);

// The last occurrence of ch in text, or null when there is none. Looking
// for 0 finds the terminator.
const WCHAR *WideFindLast(const WCHAR *text, WCHAR ch);
WCHAR *WideFindLast(WCHAR *text, WCHAR ch);

// ch with a-z turned into A-Z; every other character unchanged.
WCHAR WideToUpperAscii(WCHAR ch);

// Turns a-z into A-Z throughout text, in place.
void WideUpperAscii(WCHAR *text);
