// Wildcard patterns over stored names, for "extract PATTERN" and "pack
// --exclude": "*" matches any run of characters (separators included), "?"
// one character; letter case is ignored as Windows file systems ignore it
// (the extractor's case folding), and "\" and "/" are the same separator.
#pragma once

#include <string>
#include <string_view>

#include "tools/TextConv.h"

namespace Selfex {

class CNamePattern {
public:
    // pattern: UTF-8 (ill-formed bytes match only themselves, as U+FFFD).
    explicit CNamePattern(std::string_view pattern);

    const std::string &Text() const { return m_Text; }
    // True when the pattern holds a separator: it is then meant for a whole
    // stored path, not for one level of it.
    bool HasSeparator() const { return m_HasSeparator; }

    // The whole of name (UTF-8, either separator) matches.
    bool Matches(std::string_view name) const;
    // name matches, or one of its folders does: "docs" selects "docs\a.txt".
    bool MatchesOrContains(std::string_view name) const;

private:
    bool MatchesKey(const WideString &key, size_t length) const;

    std::string m_Text;
    WideString m_Key; // folded, separators as "\"
    bool m_HasSeparator = false;
};

// name (UTF-8) as patterns compare it: letter case folded, "/" as "\".
WideString NameMatchKey(std::string_view name);

} // namespace Selfex
