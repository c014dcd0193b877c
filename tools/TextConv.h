// Text conversions of the selfex tool: the tool keeps its texts in UTF-8 and
// turns them into wide text only where the platform or the extractor wants it.
#pragma once

#include <string>
#include <string_view>

#include "platform/Win32.h"

namespace Selfex {

using WideString = std::basic_string<WCHAR>;

// True when text is well-formed UTF-8: no stray continuation bytes, no
// overlong forms, no encoded surrogates, nothing beyond U+10FFFF.
bool IsValidUtf8(std::string_view text);

// UTF-8 to wide text; invalid sequences become U+FFFD.
WideString Utf8ToWide(std::string_view text);

// Wide text (zero-terminated) to UTF-8; lone surrogates become U+FFFD.
std::string WideToUtf8(const WCHAR *text);

// True when text ends in suffix, ASCII letters compared in either case.
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

// A path as the platform and the extractor take it: wide, with "\" between
// levels ("/" turned into "\").
WideString ToPlatformPath(const std::string &path);

// The other way: a path from the platform as UTF-8 with "/" between levels,
// which the C++ file system library takes on every system.
std::string FromPlatformPath(const WCHAR *path);

} // namespace Selfex
