// Why the extractor refuses a stored name, in words.
#include "tools/NameReview.h"

#include "tools/NamePattern.h"
#include "tools/StoredName.h"

namespace Selfex {

std::string DescribeRefusedName(Cabinet::NameRule rule, const std::string &name)
{
    using Cabinet::NameRule;
    const bool inOneLevel = rule == NameRule::ReservedCharacter || rule == NameRule::ControlCharacter ||
                            rule == NameRule::Colon || rule == NameRule::TrailingDotOrSpace ||
                            rule == NameRule::DeviceName;
    if (!inOneLevel) {
        return DescribeNameRule(rule);
    }
    // The level at fault says which character, or which device.
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find('\\', start);
        end = end == std::string::npos ? name.size() : end;
        const std::string level = name.substr(start, end - start);
        const std::string problem = level.empty() ? std::string() : StoredComponentProblem(level);
        if (!problem.empty()) {
            return rule == NameRule::DeviceName ? problem + " (\"" + level + "\")" : problem;
        }
        start = end + 1;
    }
    return DescribeNameRule(rule);
}

std::string CNameReview::Review(const std::string &name, bool validText)
{
    Cabinet::NameRule rule = Cabinet::NameRule::InvalidText;
    if (validText) {
        rule = Cabinet::CheckStoredName(Utf8ToWide(name).c_str());
    }
    if (rule == Cabinet::NameRule::Accepted && !m_Seen.insert(NameMatchKey(name)).second) {
        rule = Cabinet::NameRule::Duplicate;
    }
    return rule == Cabinet::NameRule::Accepted ? std::string() : DescribeRefusedName(rule, name);
}

} // namespace Selfex
