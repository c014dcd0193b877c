// The package layout.
#include "tools/PackageLayout.h"

#include <algorithm>
#include <cstring>

#include "fdi/CabFormat.h"

namespace Selfex {

namespace {

// PE fields the stub check reads, by offset.
constexpr size_t MZ_NEW_HEADER_OFFSET = 0x3C;    // u32 e_lfanew: where "PE\0\0" starts
constexpr size_t PE_OPTIONAL_HEADER_SIZE = 20;   // u16 in the COFF header, from the signature
constexpr size_t PE_OPTIONAL_HEADER = 24;        // the optional header, from the signature
constexpr size_t OPTIONAL_SUBSYSTEM = 68;        // u16, in PE32 and PE32+ alike
constexpr uint16_t OPTIONAL_MAGIC_PE32 = 0x10B;  // the optional header's first field
constexpr uint16_t OPTIONAL_MAGIC_PE32P = 0x20B; // PE32+ (64-bit)
constexpr uint16_t SUBSYSTEM_WINDOWS_GUI = 2;

// Why stub is no Windows GUI program, or an empty text when it is one.
std::string PeGuiProblem(const uint8_t *stub, size_t size)
{
    if (size < MZ_NEW_HEADER_OFFSET + 4 || stub[0] != 'M' || stub[1] != 'Z') {
        return "not a Windows executable (no \"MZ\" header)";
    }
    const size_t pe = Fdi::Le32(stub + MZ_NEW_HEADER_OFFSET);
    if (pe > size || size - pe < PE_OPTIONAL_HEADER || std::memcmp(stub + pe, "PE\0\0", 4) != 0) {
        return "not a Windows PE executable (no \"PE\" signature where its MZ header points)";
    }
    const size_t optional = pe + PE_OPTIONAL_HEADER;
    const uint32_t optionalSize = Fdi::Le16(stub + pe + PE_OPTIONAL_HEADER_SIZE);
    if (optionalSize < OPTIONAL_SUBSYSTEM + 2 || size - optional < OPTIONAL_SUBSYSTEM + 2) {
        return "not a complete PE executable (its optional header is missing or cut short)";
    }
    const uint32_t magic = Fdi::Le16(stub + optional);
    if (magic != OPTIONAL_MAGIC_PE32 && magic != OPTIONAL_MAGIC_PE32P) {
        return "not a Windows PE executable (its optional header is neither PE32 nor PE32+)";
    }
    const uint32_t subsystem = Fdi::Le16(stub + optional + OPTIONAL_SUBSYSTEM);
    if (subsystem != SUBSYSTEM_WINDOWS_GUI) {
        return "a program of PE subsystem " + std::to_string(subsystem) + (subsystem == 3 ? " (console)" : "") +
               "; the stub must be a Windows GUI program (subsystem 2)";
    }
    return std::string();
}

} // namespace

std::string StubProblem(const uint8_t *stub, size_t size)
{
    std::string notGui = PeGuiProblem(stub, size);
    if (!notGui.empty()) {
        return notGui;
    }
    if (size > PACKAGE_LAST_HEADER) {
        return "the stub is " + std::to_string(size) + " bytes long; a package needs one of at most " +
               std::to_string(PACKAGE_LAST_HEADER) + " bytes, or the stub could not find its cabinet";
    }
    // Short enough, so every offset from the start of the search on counts.
    const int32_t found =
        size > PACKAGE_SEARCH_START ? FindCabinetHeader(stub + PACKAGE_SEARCH_START, size - PACKAGE_SEARCH_START) : -1;
    if (found >= 0) {
        return "the stub holds \"MSCF\" at offset " + std::to_string(PACKAGE_SEARCH_START + uint32_t(found)) +
               ", where the stub's own search would take it for the cabinet";
    }
    return std::string();
}

uint32_t CabinetOffsetBehind(size_t stubSize)
{
    return static_cast<uint32_t>(std::max<size_t>(stubSize, PACKAGE_SEARCH_START));
}

} // namespace Selfex
