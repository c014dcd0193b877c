// The real Windows API: the SDK headers the shared code needs.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <fdi.h>

#define WIDE_(s) L##s
#define WIDE(s) WIDE_(s)

// MinGW's fdi.h stops at FDIERROR_USER_ABORT; the SDK also names 12.
#ifndef FDIERROR_EOF
#define FDIERROR_EOF ((FDIERROR)12)
#endif
