// The progress dialog (see ProgressDialog.h).
#include "app/ProgressDialog.h"

#include "app/ExtractionRun.h"
#include "app/Globals.h"
#include "app/resource.h"

namespace {

// Timers of the dialog; they arrive as WM_TIMER, without a timer procedure.
constexpr UINT_PTR IDT_RUN = 1;
constexpr UINT_PTR IDT_CLOSE = 2;

// The run starts from a timer so that the dialog is painted first: timer
// messages come only when no paint is pending.
constexpr UINT START_DELAY_MS = 50;
// How long the finished dialog stays up, showing the last file and full bar.
constexpr UINT CLOSE_DELAY_MS = 1000;

void ShowExtractFailed(HWND dlg)
{
    WCHAR text[STRING_CAPACITY] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_EXTRACT_FAILED, text, ARRAYSIZE(text));
    MessageBoxW(dlg, text, g_Caption, MB_OK | MB_ICONWARNING);
}

void ProgressDlg_OnRunTimer(HWND dlg)
{
    // The start timer is killed first, so that the run happens exactly once.
    KillTimer(dlg, IDT_RUN);
    // The whole extraction happens inside this call, on the controls of
    // this dialog; no message is pumped until it returns.
    HWND progress = GetDlgItem(dlg, IDC_PROGRESS);
    HWND status = GetDlgItem(dlg, IDC_STATUS);
    if (RunExtraction(g_ModulePath, g_TargetDir, status, progress)) {
        // Success: the dialog stays a moment, then closes itself.
        SetTimer(dlg, IDT_CLOSE, CLOSE_DELAY_MS, nullptr);
        return;
    }
    // Failure: the user is told, and the dialog ends when the box is closed.
    ShowExtractFailed(dlg);
    EndDialog(dlg, 1);
}

void ProgressDlg_OnTimer(HWND dlg, UINT_PTR id)
{
    if (id == IDT_RUN) {
        ProgressDlg_OnRunTimer(dlg);
    } else if (id == IDT_CLOSE) {
        EndDialog(dlg, 1); // the close timer ends with the dialog
    }
}

} // namespace

INT_PTR CALLBACK ProgressDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: SetTimer(dlg, IDT_RUN, START_DELAY_MS, nullptr); return TRUE;
    case WM_TIMER: ProgressDlg_OnTimer(dlg, wParam); return FALSE;
    default:
        // WM_COMMAND included: Escape and the close request go unanswered.
        return FALSE;
    }
}
