// The Win32 and C-runtime subset that the shared code calls.
//
// On Windows this pulls in the SDK headers. On POSIX systems it declares the
// same names with the same signatures, flag values and error codes, provided
// by the platform layer (platform/posix/), so that support/, cabinet/, app/
// and tools/ compile unchanged on both. Text is 16-bit (UTF-16 code units)
// everywhere: WCHAR is wchar_t on Windows and char16_t on POSIX; write wide
// literals with WIDE("...").
#pragma once

#if defined(_WIN32)
#include "platform/windows/Win32Windows.h"
#else
#include "platform/posix/Win32Posix.h"
#endif
