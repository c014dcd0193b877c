// The progress dialog (IDD_PROGRESS): runs the extraction once, shows the
// file being extracted and a bar that counts files, and closes itself.
#pragma once

#include "platform/Win32.h"

// Dialog procedure of IDD_PROGRESS. 50 ms after the dialog appears it runs
// the extraction of the package g_ModulePath into g_TargetDir on this thread;
// after success the dialog ends 1000 ms later, after a failure once the
// "Extract Failed." box is dismissed; the result is 1 either way. The user
// cannot close it: it has no close box and ignores the cancel command.
INT_PTR CALLBACK ProgressDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam);
