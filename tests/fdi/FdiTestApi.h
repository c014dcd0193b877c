// The FDI declarations the FDI tests are written against: our own header
// natively, the SDK's fdi.h when the same tests are cross-built for Windows
// and run against Wine's Cabinet.dll.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <fdi.h>
// MinGW's fdi.h stops at FDIERROR_USER_ABORT; the SDK also names 12.
#define FDIERROR_EOF_CODE 12
#else
#include "fdi/FdiApi.h"
#define FDIERROR_EOF_CODE FDIERROR_EOF
#endif

// True when the tests run against Wine's Cabinet.dll, whose known
// differences from the documented behaviour some tests allow for.
#if defined(_WIN32)
constexpr bool FDI_UNDER_TEST_IS_WINE = true;
#else
constexpr bool FDI_UNDER_TEST_IS_WINE = false;
#endif
