// Refusal of stored names that could escape the destination folder.
#pragma once

#include "platform/Win32.h"

namespace Cabinet {

// relPath: a decoded stored name with "\" separators (every "/" already
// turned into "\"). True when it is a plain relative path below the
// destination. False when it
//   - is empty or starts with "\" (absolute, or a UNC or device prefix),
//   - holds a ":" anywhere (a drive letter or an NTFS stream),
//   - has a level that is empty (a doubled separator) or made of dots and
//     spaces only ("." and ".." among them; Windows drops trailing dots and
//     spaces, so "..." or ". ." may resolve like them),
//   - has a level naming a device: CON, PRN, AUX, NUL, COM1-COM9 or
//     LPT1-LPT9 in any letter case, alone or before an extension ("nul.txt",
//     "Con .log"). Refused on every platform, so that a package behaves the
//     same wherever it is extracted.
// One trailing "\" is allowed: such a name denotes no file, and its open
// fails later in the usual way.
bool IsSafeStoredName(const WCHAR *relPath);

} // namespace Cabinet
