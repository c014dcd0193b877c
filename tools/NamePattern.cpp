// Wildcard patterns over stored names.
#include "tools/NamePattern.h"

#include "cabinet/CaseFold.h"

namespace Selfex {

WideString NameMatchKey(std::string_view name)
{
    WideString key = Utf8ToWide(name);
    for (WCHAR &unit : key) {
        unit = unit == '/' ? static_cast<WCHAR>('\\') : Cabinet::FoldCase(unit);
    }
    return key;
}

CNamePattern::CNamePattern(std::string_view pattern) : m_Text(pattern), m_Key(NameMatchKey(pattern))
{
    m_HasSeparator = m_Key.find(WIDE('\\')) != WideString::npos;
}

bool CNamePattern::Matches(std::string_view name) const
{
    const WideString key = NameMatchKey(name);
    return MatchesKey(key, key.size());
}

bool CNamePattern::MatchesOrContains(std::string_view name) const
{
    const WideString key = NameMatchKey(name);
    for (size_t length = 0; length < key.size(); ++length) {
        if (key[length] == WIDE('\\') && MatchesKey(key, length)) {
            return true;
        }
    }
    return MatchesKey(key, key.size());
}

// The first length units of key against the whole pattern. Greedy with one
// point of return: after a mismatch, the last "*" takes one more unit. Time
// is bounded by the product of the two lengths.
bool CNamePattern::MatchesKey(const WideString &key, size_t length) const
{
    const WideString &pattern = m_Key;
    size_t p = 0;
    size_t k = 0;
    size_t starAt = WideString::npos;
    size_t resumeAt = 0;
    while (k < length) {
        if (p < pattern.size() && (pattern[p] == WIDE('?') || pattern[p] == key[k])) {
            ++p;
            ++k;
        } else if (p < pattern.size() && pattern[p] == WIDE('*')) {
            starAt = p++;
            resumeAt = k;
        } else if (starAt != WideString::npos) {
            p = starAt + 1;
            k = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == WIDE('*')) {
        ++p;
    }
    return p == pattern.size();
}

} // namespace Selfex
