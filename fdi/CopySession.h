// One FDICopy call: opening the cabinet, the notification dialogue with the
// client, the per-file loop and the walk through the cabinets of a set.
#pragma once

#include <cstdint>

#include "fdi/Context.h"
#include "fdi/Fault.h"

namespace Fdi {

// Runs FDICopy on context for pszCabPath + pszCabinet, steering the client
// through notify with user as every notification's pv. Returns Fault::None
// when the cabinet's file list was processed; otherwise the fault, with
// *detail set to the value for ERF.erfType. Every cabinet handle it opened
// is closed and every block it allocated is freed before it returns.
Fault RunCopy(Context &context, const char *cabinetName, const char *cabinetPath, PFNFDINOTIFY notify, void *user,
              int32_t *detail);

} // namespace Fdi
