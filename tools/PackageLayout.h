// The package layout as the packer applies it: a stub executable, zero
// filler up to offset 160000 when the stub is shorter, then the cabinet.
// The rule itself, and the stub's search, are the extractor's
// (cabinet/PackageLayout.h); the packer adds what it asks of a stub.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cabinet/PackageLayout.h"

namespace Selfex {

// The extractor's numbers under the packer's names.
constexpr uint32_t PACKAGE_SEARCH_START = Cabinet::CABINET_SEARCH_START;   // where the header search begins
constexpr uint32_t PACKAGE_SEARCH_WINDOW = Cabinet::CABINET_SEARCH_WINDOW; // bytes read for the search
constexpr uint32_t PACKAGE_LAST_HEADER = Cabinet::CABINET_LAST_HEADER;     // the last offset looked at

// Why stub (size bytes) cannot start a package, or an empty text when it
// can: it must be a Windows GUI program (an MZ header pointing at a "PE"
// signature, PE subsystem 2), unsigned (a cabinet behind a certificate
// table is not covered by the signature), at most 225529 bytes long,
// without "MSCF" from offset 160000 on.
std::string StubProblem(const uint8_t *stub, size_t size);

// Where the cabinet starts behind a stub of stubSize bytes.
uint32_t CabinetOffsetBehind(size_t stubSize);

// The stub's search (Cabinet::FindCabinetMagic) over a window of bytes read
// from offset 160000 on: the offset from 160000 of the cabinet header, or -1.
inline int32_t FindCabinetHeader(const uint8_t *window, size_t size)
{
    return Cabinet::FindCabinetMagic(window, size);
}

} // namespace Selfex
