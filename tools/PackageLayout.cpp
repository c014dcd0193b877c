// The package layout.
#include "tools/PackageLayout.h"

#include <algorithm>
#include <cstring>

#include "fdi/CabFormat.h"
#include "tools/pe/PeImage.h"
#include "tools/pe/Signature.h"

namespace Selfex {

namespace {

constexpr char SIGNATURE[] = "MSCF";

// Why stub is no Windows GUI program, or an empty text when it is one.
std::string PeGuiProblem(const uint8_t *stub, size_t size)
{
    PeHeaders headers;
    std::string problem = ReadPeHeaders(stub, size, headers);
    if (!problem.empty()) {
        return problem;
    }
    if (headers.Subsystem != PE_SUBSYSTEM_WINDOWS_GUI) {
        return "a program of PE subsystem " + std::to_string(headers.Subsystem) +
               (headers.Subsystem == 3 ? " (console)" : "") + "; the stub must be a Windows GUI program (subsystem 2)";
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
    if (HasCertificateTable(stub, size, size)) {
        return "the stub is signed, and a cabinet behind its certificate table would lie outside what the "
               "signature covers; pack with the unsigned stub, then sign the package";
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
