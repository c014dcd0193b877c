// Names of the cabinets of a set, as a cabinet's header gives them: plain
// file names in the folder of the first cabinet, nothing else.
#pragma once

#include <string>

#include "tools/TextConv.h"

namespace Selfex {

// Why name (a next or previous cabinet named by a header) cannot be opened
// as a member of the set, in words ("holds a folder separator"), or an
// empty text when it can. Refused: an empty name, a folder separator, a
// colon (a drive or an NTFS stream), "." and "..", and every name the
// extractor's stored-name rule refuses.
std::string SetMemberNameProblem(const WideString &name);

} // namespace Selfex
