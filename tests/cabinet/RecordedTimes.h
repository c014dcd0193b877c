// What the extractor asked SetFileTime to apply, where the file cannot show
// it: POSIX keeps no creation time, so the platform drops that argument.
// Native builds record every call (RecordedTimes.cpp, linked in place of
// the platform's SetFileTime with --wrap); Windows builds have no record
// and read the times back from the file instead.
#pragma once

#include <cstddef>

struct RecordedTimes {
    size_t Calls;           // SetFileTime calls so far
    size_t CreationDiffers; // of them, calls without a creation time or with
                            // another one than the last-write time
};

RecordedTimes RecordedTimeCalls();
