// Where a package keeps its cabinet: the one statement of the rule, used by
// the extractor, which searches for the cabinet, and by the packer, which
// lays a package out so that the search finds it.
//
// A package is a stub executable followed by a cabinet whose header "MSCF"
// starts at the first offset from CABINET_SEARCH_START on that holds it, no
// later than CABINET_LAST_HEADER. The extractor reads CABINET_SEARCH_WINDOW
// bytes from CABINET_SEARCH_START and looks at the first
// CABINET_SEARCH_POSITIONS offsets of them; so a stub holds no "MSCF" from
// CABINET_SEARCH_START on and is at most CABINET_LAST_HEADER bytes long, and
// a shorter stub is padded to CABINET_SEARCH_START.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Cabinet {

constexpr int32_t CABINET_SEARCH_START = 160000;
constexpr int32_t CABINET_SEARCH_WINDOW = 65536;    // bytes read for the search
constexpr int32_t CABINET_SEARCH_POSITIONS = 65530; // candidate offsets in the window
// The last file offset at which a cabinet is found: 225529. The window
// would still hold "MSCF" at its last three offsets; they are not looked at.
constexpr int32_t CABINET_LAST_HEADER = CABINET_SEARCH_START + CABINET_SEARCH_POSITIONS - 1;

// The search over window, size bytes read from CABINET_SEARCH_START on (a
// file that ends sooner gives fewer): the index of the first "MSCF" at an
// index below CABINET_SEARCH_POSITIONS that lies whole in the window, or -1.
int32_t FindCabinetMagic(const uint8_t *window, size_t size);

} // namespace Cabinet
