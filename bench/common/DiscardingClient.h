// FDI callbacks shared by the decoder benchmarks: cabinets are read with
// plain POSIX I/O, and every file FDI writes goes to one handle that only
// counts bytes, so that what is measured is the decoder, not the disk.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "fdi/FdiApi.h"

namespace BenchClient {

constexpr intptr_t SINK_HANDLE = 0x5151;
// Bytes written to the sink since the caller last reset it.
inline uint64_t g_Written;

inline FNALLOC(Alloc)
{
    return std::malloc(cb);
}

inline FNFREE(Free)
{
    std::free(pv);
}

inline FNOPEN(Open)
{
    // FDI passes Windows flag values; the benchmarks only ever read.
    std::string path(pszFile);
    for (char &c : path) {
        c = c == '\\' ? '/' : c;
    }
    return open(path.c_str(), O_RDONLY);
}

inline FNREAD(Read)
{
    const ssize_t got = read(static_cast<int>(hf), pv, cb);
    return got < 0 ? UINT32_MAX : static_cast<uint32_t>(got);
}

inline FNWRITE(Write)
{
    if (hf != SINK_HANDLE) {
        return UINT32_MAX;
    }
    g_Written += cb;
    return cb;
}

inline FNCLOSE(Close)
{
    return hf == SINK_HANDLE ? 0 : close(static_cast<int>(hf));
}

inline FNSEEK(Seek)
{
    const off_t result = lseek(static_cast<int>(hf), dist, seektype == 0 ? SEEK_SET : SEEK_CUR);
    return result < 0 || result > INT32_MAX ? -1 : static_cast<int32_t>(result);
}

} // namespace BenchClient
