// The cabinet header search of a package.
#include "cabinet/PackageLayout.h"

#include <cstring>

#include "fdi/CabFormat.h"

namespace Cabinet {

int32_t FindCabinetMagic(const uint8_t *window, size_t size)
{
    constexpr size_t MAGIC = sizeof Fdi::CAB_SIGNATURE;
    for (size_t i = 0; i < static_cast<size_t>(CABINET_SEARCH_POSITIONS) && i + MAGIC <= size; ++i) {
        if (std::memcmp(window + i, Fdi::CAB_SIGNATURE, MAGIC) == 0) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

} // namespace Cabinet
