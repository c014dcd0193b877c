// Why the extractor refuses a stored name, in words. "selfex list" shows
// every name and marks the refused ones with this reason; the extractor's
// own refusal carries only a rule, which the tool puts in the same words.
#pragma once

#include <set>
#include <string>

#include "cabinet/NameCheck.h"
#include "tools/TextConv.h"

namespace Selfex {

// The reason name (UTF-8, "\" between levels) breaks rule, naming the
// character or the level at fault where one is: "the character '?', which
// Windows file names cannot hold".
std::string DescribeRefusedName(Cabinet::NameRule rule, const std::string &name);

class CNameReview {
public:
    // name: a decoded stored name (UTF-8, "\" between levels); validText
    // false for flagged UTF-8 that is not valid. The reason the extractor
    // refuses it, or an empty text. Names are remembered, so that one that
    // repeats an earlier name in other letter case is refused as the
    // extractor refuses it.
    std::string Review(const std::string &name, bool validText);

private:
    std::set<WideString> m_Seen; // names met, letter case folded
};

} // namespace Selfex
