// The extractor bound to the calling thread, as the decompressor's callbacks
// find it.
#pragma once

#include "cabinet/Extract.h"
#include "cabinet/TlsIndex.h"

namespace Cabinet {

// The extractor whose Create bound it to this thread, or null (no slot
// index, or nothing bound).
inline CExtract *BoundExtractor()
{
    if (g_TlsIndex == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    return static_cast<CExtract *>(TlsGetValue(g_TlsIndex));
}

} // namespace Cabinet
