// The package layout.
#include "tools/PackageLayout.h"

#include <algorithm>
#include <cstring>

namespace Selfex {

namespace {

constexpr char SIGNATURE[] = "MSCF";

} // namespace

std::string StubProblem(const uint8_t *stub, size_t size)
{
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
