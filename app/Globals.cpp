// Program-wide state of the stub's front end (see Globals.h).
#include "app/Globals.h"

WCHAR g_ModulePath[MAX_PATH];
WCHAR g_Caption[MAX_PATH];
WCHAR g_TargetDir[TARGET_DIR_CAPACITY];
HWND g_StatusWnd;
HWND g_ProgressWnd;
