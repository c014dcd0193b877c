// The program's one thread-local slot index, which binds an extractor to its
// thread.
#pragma once

#include "platform/Win32.h"

// Allocated before main/WinMain runs; TLS_OUT_OF_INDEXES (-1) when the
// platform had no slot to give. Never released.
extern const DWORD g_TlsIndex;
