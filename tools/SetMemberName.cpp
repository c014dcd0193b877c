// Names of the cabinets of a set.
#include "tools/SetMemberName.h"

#include "cabinet/NameCheck.h"
#include "tools/NameReview.h"

namespace Selfex {

std::string SetMemberNameProblem(const WideString &name)
{
    if (name.empty()) {
        return "is empty";
    }
    if (name.find_first_of(WIDE("\\/")) != WideString::npos) {
        return "holds a folder separator";
    }
    if (name.find(WIDE(':')) != WideString::npos) {
        return "holds a colon (a drive or a stream)";
    }
    if (name == WIDE(".") || name == WIDE("..")) {
        return "is \".\" or \"..\"";
    }
    // What remains is one level: the extractor's rule decides the rest.
    const Cabinet::NameRule rule = Cabinet::CheckSetMemberName(name.c_str());
    if (rule != Cabinet::NameRule::Accepted) {
        return "breaks the name rule: " + DescribeRefusedName(rule, WideToUtf8(name.c_str()));
    }
    return std::string();
}

} // namespace Selfex
