// Why the extractor refuses a stored name, in words.
#include "tools/NameReview.h"

#include "cabinet/NameCheck.h"
#include "tools/NamePattern.h"

namespace Selfex {

std::string CNameReview::Review(const std::string &name, bool validText)
{
    if (!validText) {
        return "not valid UTF-8";
    }
    const WideString wide = Utf8ToWide(name);
    if (!Cabinet::IsSafeStoredName(wide.c_str())) {
        return "absolute, with a drive or stream colon, an empty, \".\" or \"..\" level, or a device name";
    }
    if (!m_Seen.insert(NameMatchKey(name)).second) {
        return "the name of an earlier file in other letter case";
    }
    return std::string();
}

} // namespace Selfex
