// Names of the cabinets of a set.
#include "tools/SetMemberName.h"

#include "cabinet/NameCheck.h"

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
    // What remains is one level: the stored-name rule decides the rest.
    if (!Cabinet::IsSafeStoredName(name.c_str())) {
        return "is a name Windows cannot create as it is (a device name, or a trailing dot or space)";
    }
    return std::string();
}

} // namespace Selfex
