// Records the extractor's SetFileTime calls natively (see RecordedTimes.h).
#include "tests/cabinet/RecordedTimes.h"

#include "platform/Win32.h"

// The platform's SetFileTime(HANDLE, const FILETIME *, const FILETIME *,
// const FILETIME *) by its linker name; --wrap sends the extractor's calls
// to the first function and keeps the second for the platform's own.
extern "C" BOOL __wrap__Z11SetFileTimePvPK8FILETIMES2_S2_(HANDLE file, const FILETIME *creation,
                                                          const FILETIME *lastAccess, const FILETIME *lastWrite);
extern "C" BOOL __real__Z11SetFileTimePvPK8FILETIMES2_S2_(HANDLE file, const FILETIME *creation,
                                                          const FILETIME *lastAccess, const FILETIME *lastWrite);

namespace {

RecordedTimes g_Recorded = {0, 0};

bool SameTime(const FILETIME *a, const FILETIME *b)
{
    return a != nullptr && b != nullptr && a->dwLowDateTime == b->dwLowDateTime &&
           a->dwHighDateTime == b->dwHighDateTime;
}

} // namespace

extern "C" BOOL __wrap__Z11SetFileTimePvPK8FILETIMES2_S2_(HANDLE file, const FILETIME *creation,
                                                          const FILETIME *lastAccess, const FILETIME *lastWrite)
{
    ++g_Recorded.Calls;
    if (!SameTime(creation, lastWrite)) {
        ++g_Recorded.CreationDiffers;
    }
    return __real__Z11SetFileTimePvPK8FILETIMES2_S2_(file, creation, lastAccess, lastWrite);
}

RecordedTimes RecordedTimeCalls()
{
    return g_Recorded;
}
