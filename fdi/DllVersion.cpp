// DllGetVersion: the version query Cabinet.dll answers, so that callers ask
// our library and Windows' the same way.
#include "SelfexVersion.h"
#include "fdi/FdiApi.h"

extern "C" __attribute__((visibility("default"))) void DllGetVersion(PCABINETDLLVERSIONINFO pcdvi)
{
    // Callers older than the record's current size get nothing rather than
    // a write past their record.
    if (pcdvi == nullptr || pcdvi->cbStruct < sizeof(CABINETDLLVERSIONINFO)) {
        return;
    }
    pcdvi->dwFileVersionMS = static_cast<uint32_t>(SELFEX_VERSION_MAJOR) << 16 | SELFEX_VERSION_MINOR;
    pcdvi->dwFileVersionLS = static_cast<uint32_t>(SELFEX_VERSION_PATCH) << 16;
}
