// The destination folder dialog (IDD_FOLDER): proposes a folder, lets the
// user type or pick one, and composes the run's target in g_TargetDir.
#pragma once

#include "platform/Win32.h"

// Typing limit of the folder edit box, applied at start and after each pick.
constexpr int FOLDER_EDIT_LIMIT = 250;

// Dialog procedure of IDD_FOLDER. The dialog ends with IDOK, g_TargetDir then
// holding the target (ending in "\" or "/"), or with IDCANCEL on Cancel,
// Escape or the close box.
INT_PTR CALLBACK FolderDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam);

// Puts the proposed folder into the edit box: the current directory for a
// writable package; for a read-only one (or one whose attributes cannot be
// read) the per-user "BaseLocation" setting, else Documents\Tessaly, else
// nothing.
void InitFolderDialog(HWND dlg);

// Runs the folder picker from the edit box's folder and puts a picked
// folder into the edit box; a cancelled picker changes nothing.
void OnBrowse(HWND dlg);

// Composes the target from the edit box into g_TargetDir. True when the
// dialog may end with OK; false (after the user declined to reuse an
// existing subfolder) keeps the dialog open.
bool ValidateFolder(HWND dlg);
