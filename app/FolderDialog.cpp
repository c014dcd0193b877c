// The destination folder dialog (see FolderDialog.h).
#include "app/FolderDialog.h"

#include "app/FolderPicker.h"
#include "app/FolderText.h"
#include "app/Globals.h"
#include "app/resource.h"
#include "support/WideText.h"

#include <shlwapi.h>

namespace {

// The per-user setting that names the proposed folder of a read-only package.
const WCHAR SETTINGS_KEY[] = WIDE("Software\\Quorvane\\Tessaly");
const WCHAR BASE_LOCATION_VALUE[] = WIDE("BaseLocation");

// Documents + "\Tessaly" into proposal; empty when the shell has no
// Documents folder, "\Tessaly" alone when its location has no path.
void ProposeDocumentsFolder(WCHAR *proposal, size_t capacity)
{
    LPITEMIDLIST list = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &list) != S_OK) {
        return;
    }
    WCHAR documents[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(list, documents)) {
        documents[0] = 0;
    }
    FreeItemList(list);
    DocumentsProposal(documents, proposal, capacity);
}

// InitFolderDialog's proposal for a read-only package: the registry's
// base location, else the Documents folder.
void ProposeBaseLocation(WCHAR *folder, size_t capacity)
{
    // The value is taken as text whatever its type. One that does not fit
    // leaves the buffer undefined, so it counts as missing; one that fills
    // the buffer exactly may lack its terminator and is cut inside.
    WCHAR value[MAX_PATH] = {};
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (SHGetValueW(HKEY_CURRENT_USER, SETTINGS_KEY, BASE_LOCATION_VALUE, &type, value, &size) != ERROR_SUCCESS) {
        value[0] = 0;
    }
    TerminateWithin(value, ARRAYSIZE(value));

    if (value[0] == 0) {
        ProposeDocumentsFolder(value, ARRAYSIZE(value));
    }
    StripProposalBackslash(value);
    WideCopy(folder, capacity, value);
}

// Sets the edit box's text and typing limit.
void SetFolderText(HWND dlg, const WCHAR *text)
{
    SetDlgItemTextW(dlg, IDC_FOLDER_EDIT, text);
    SendDlgItemMessageW(dlg, IDC_FOLDER_EDIT, EM_LIMITTEXT, FOLDER_EDIT_LIMIT, 0);
}

// Asks whether the existing subfolder g_Caption may be reused.
bool ConfirmExistingFolder(HWND dlg)
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    WCHAR format[STRING_CAPACITY] = {};
    LoadStringW(module, IDS_FOLDER_EXISTS, format, ARRAYSIZE(format));
    // wsprintfW writes at most 1024 characters, the size of question.
    WCHAR question[STRING_CAPACITY] = {};
    wsprintfW(question, format, g_Caption);
    return MessageBoxW(dlg, question, g_Caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

BOOL FolderDlg_OnInitDialog(HWND dlg)
{
    SetWindowTextW(dlg, g_Caption);
    InitFolderDialog(dlg);
    // TRUE: the dialog manager focuses the first tab stop, the edit box.
    return TRUE;
}

BOOL FolderDlg_OnCommand(HWND dlg, int id)
{
    switch (id) {
    case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
    case IDOK:
        if (!ValidateFolder(dlg)) {
            return FALSE;
        }
        EndDialog(dlg, IDOK);
        return TRUE;
    case IDC_BROWSE: OnBrowse(dlg); return FALSE;
    default: return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK FolderDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return FolderDlg_OnInitDialog(dlg);
    case WM_COMMAND:
        // The control id alone decides; notification codes are not told apart.
        return FolderDlg_OnCommand(dlg, LOWORD(wParam));
    default: return FALSE;
    }
}

void InitFolderDialog(HWND dlg)
{
    // The current directory is the proposal; one that does not fit leaves
    // the text empty.
    WCHAR folder[MAX_PATH] = {};
    if (GetCurrentDirectoryW(ARRAYSIZE(folder), folder) >= ARRAYSIZE(folder)) {
        folder[0] = 0;
    }
    // "c:\x" is shown as "C:\x".
    UpperCaseDriveLetter(folder);
    // A read-only package (on a CD, say) proposes a writable place instead.
    // INVALID_FILE_ATTRIBUTES has every bit set, so a package file whose
    // attributes cannot be read counts as read-only.
    if ((GetFileAttributesW(g_ModulePath) & FILE_ATTRIBUTE_READONLY) != 0) {
        ProposeBaseLocation(folder, ARRAYSIZE(folder));
    }
    // The text and its typing limit.
    SetFolderText(dlg, folder);
}

void OnBrowse(HWND dlg)
{
    // g_TargetDir is the picker's initial folder and its output at once.
    GetDlgItemTextW(dlg, IDC_FOLDER_EDIT, g_TargetDir, MAX_PATH);
    WCHAR title[STRING_CAPACITY] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_CHOOSE_FOLDER, title, ARRAYSIZE(title));
    if (BrowseForFolder(dlg, title, g_TargetDir, g_TargetDir, MAX_PATH) == BROWSE_PICKED) {
        SetFolderText(dlg, g_TargetDir);
    }
}

bool ValidateFolder(HWND dlg)
{
    // The edit box's text is the target. A text ending in a separator is the target itself, as typed.
    GetDlgItemTextW(dlg, IDC_FOLDER_EDIT, g_TargetDir, MAX_PATH);
    if (EndsInSeparator(g_TargetDir)) {
        return true;
    }
    // Otherwise the target is a subfolder named after the package. Always fits: 259 + 1 + 255 + 1 characters and the
    // terminator.
    AppendSubfolder(g_TargetDir, ARRAYSIZE(g_TargetDir), g_Caption);
    // Anything but an existing folder is accepted without a question.
    DWORD attrs = GetFileAttributesW(g_TargetDir);
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return true;
    }
    // An existing subfolder is reused only when the user says so.
    return ConfirmExistingFolder(dlg);
}
