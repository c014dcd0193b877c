// The registry of HANDLE values given out by the layer (files, searches).
//
// A HANDLE is the address of its object, accepted back only while it is in
// this registry, so a stale or foreign handle fails with
// ERROR_INVALID_HANDLE instead of touching freed memory.
#include <mutex>
#include <unordered_set>

#include "platform/posix/HostBridge.h"

namespace {

std::mutex g_HandleLock;

// Built on first use rather than by a static constructor.
std::unordered_set<Host::CHandleObject *> &LiveHandles()
{
    static std::unordered_set<Host::CHandleObject *> handles;
    return handles;
}

} // namespace

namespace Host {

HANDLE RegisterHandle(CHandleObject *object)
{
    std::lock_guard<std::mutex> lock(g_HandleLock);
    LiveHandles().insert(object);
    return object;
}

CHandleObject *FindHandleObject(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_HandleLock);
    auto found = LiveHandles().find(static_cast<CHandleObject *>(handle));
    return found != LiveHandles().end() ? *found : nullptr;
}

CHandleObject *RemoveHandleObject(HANDLE handle, bool (*isWanted)(CHandleObject *))
{
    std::lock_guard<std::mutex> lock(g_HandleLock);
    auto found = LiveHandles().find(static_cast<CHandleObject *>(handle));
    if (found == LiveHandles().end() || !isWanted(*found)) {
        return nullptr;
    }
    CHandleObject *object = *found;
    LiveHandles().erase(found);
    return object;
}

} // namespace Host
