// Definition of g_TlsIndex.
#include "cabinet/TlsIndex.h"

// The one static initialiser of the program. The FDI callbacks receive no
// context pointer, so they find their extractor through a thread-local slot,
// and the slot index must exist before any extractor does: allocating it here,
// before main/WinMain, saves every extractor from racing to allocate it and
// from ever releasing it while another thread may still use it.
const DWORD g_TlsIndex = TlsAlloc();
