// The package layout: a stub executable, zero filler up to offset 160000
// when the stub is shorter, then the cabinet. The stub finds the cabinet by
// searching for "MSCF" from offset 160000 on and takes the first match, up
// to offset 225529; so the stub itself may not hold "MSCF" from 160000 on,
// and may be at most 225529 bytes long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Selfex {

constexpr uint32_t PACKAGE_SEARCH_START = 160000; // where the stub's header search begins
constexpr uint32_t PACKAGE_SEARCH_WINDOW = 65536; // bytes the stub reads for the search
constexpr uint32_t PACKAGE_LAST_HEADER = 225529;  // the last offset at which it looks

// Why stub (size bytes) cannot start a package, or an empty text when it
// can: it must be a Windows GUI program (an MZ header pointing at a "PE"
// signature, PE subsystem 2), unsigned (a cabinet behind a certificate
// table is not covered by the signature), at most 225529 bytes long,
// without "MSCF" from offset 160000 on.
std::string StubProblem(const uint8_t *stub, size_t size);

// Where the cabinet starts behind a stub of stubSize bytes.
uint32_t CabinetOffsetBehind(size_t stubSize);

// The stub's search over a window of bytes read from offset 160000 on
// (size up to 65536): the offset from 160000 of the first "MSCF" at a
// position of 65529 or less, or -1 when there is none.
int32_t FindCabinetHeader(const uint8_t *window, size_t size);

} // namespace Selfex
