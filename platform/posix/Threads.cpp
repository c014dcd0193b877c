// Thread-local slots, thread id and tick count.
//
// TLS: TLS_MINIMUM_AVAILABLE slots, each with a generation number that
// TlsAlloc and TlsFree advance. A thread's value counts only while it was
// stored under the slot's current generation, so a newly allocated slot
// reads as null in every thread, as Windows guarantees, without visiting
// the other threads. All state here is constant-initialised, so static
// initialisers elsewhere (the program's one TlsAlloc) may run first.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/posix/HostBridge.h"

namespace {

struct ThreadSlot {
    uint64_t Generation; // the slot generation Value was stored under
    LPVOID Value;
};

std::mutex g_TlsLock;
bool g_TlsInUse[TLS_MINIMUM_AVAILABLE];
std::atomic<uint64_t> g_TlsGeneration[TLS_MINIMUM_AVAILABLE];
thread_local ThreadSlot t_TlsSlots[TLS_MINIMUM_AVAILABLE];
thread_local DWORD t_ThreadId;

} // namespace

DWORD TlsAlloc(void)
{
    std::lock_guard<std::mutex> lock(g_TlsLock);
    for (DWORD index = 0; index < TLS_MINIMUM_AVAILABLE; ++index) {
        if (!g_TlsInUse[index]) {
            g_TlsInUse[index] = true;
            ++g_TlsGeneration[index];
            return index;
        }
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index)
{
    std::lock_guard<std::mutex> lock(g_TlsLock);
    if (index >= TLS_MINIMUM_AVAILABLE || !g_TlsInUse[index]) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    g_TlsInUse[index] = false;
    ++g_TlsGeneration[index];
    return TRUE;
}

LPVOID TlsGetValue(DWORD index)
{
    if (index >= TLS_MINIMUM_AVAILABLE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A stored null and an error look alike, so success clears the error.
    SetLastError(ERROR_SUCCESS);
    const ThreadSlot &slot = t_TlsSlots[index];
    return slot.Generation == g_TlsGeneration[index].load() ? slot.Value : nullptr;
}

BOOL TlsSetValue(DWORD index, LPVOID value)
{
    if (index >= TLS_MINIMUM_AVAILABLE) {
        return Host::Fail(ERROR_INVALID_PARAMETER);
    }
    t_TlsSlots[index] = ThreadSlot{g_TlsGeneration[index].load(), value};
    return TRUE;
}

DWORD GetCurrentThreadId(void)
{
    // The kernel's thread id: unique among running threads and never 0.
    if (t_ThreadId == 0) {
        t_ThreadId = static_cast<DWORD>(syscall(SYS_gettid));
    }
    return t_ThreadId;
}

DWORD GetTickCount(void)
{
    // Milliseconds of a clock that never jumps, wrapping after 49.7 days.
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    return static_cast<DWORD>(milliseconds);
}
