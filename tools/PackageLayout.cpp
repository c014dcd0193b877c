// The package layout.
#include "tools/PackageLayout.h"

#include <algorithm>
#include <cstring>

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
    for (size_t at = PACKAGE_SEARCH_START; at + 4 <= size; ++at) {
        if (std::memcmp(stub + at, SIGNATURE, 4) == 0) {
            return "the stub holds \"MSCF\" at offset " + std::to_string(at) +
                   ", where the stub's own search would take it for the cabinet";
        }
    }
    return std::string();
}

uint32_t CabinetOffsetBehind(size_t stubSize)
{
    return static_cast<uint32_t>(std::max<size_t>(stubSize, PACKAGE_SEARCH_START));
}

int32_t FindCabinetHeader(const uint8_t *window, size_t size)
{
    size_t last = std::min<size_t>(PACKAGE_LAST_HEADER - PACKAGE_SEARCH_START, size < 4 ? 0 : size - 4);
    for (size_t at = 0; size >= 4 && at <= last; ++at) {
        if (std::memcmp(window + at, SIGNATURE, 4) == 0) {
            return static_cast<int32_t>(at);
        }
    }
    return -1;
}

} // namespace Selfex
