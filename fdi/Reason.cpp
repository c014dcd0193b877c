// Why a decoder call failed.
#include "fdi/Reason.h"

namespace Fdi {

namespace {

// Per thread: two contexts may be used on two threads at once.
thread_local const char *t_Reason = nullptr;

} // namespace

Fault Fail(Fault fault, const char *reason)
{
    t_Reason = reason;
    return fault;
}

Status Fail(Status status, const char *reason)
{
    t_Reason = reason;
    return status;
}

const char *LastReason()
{
    return t_Reason;
}

void ClearReason()
{
    t_Reason = nullptr;
}

} // namespace Fdi
