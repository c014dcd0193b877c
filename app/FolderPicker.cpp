// The shell's folder picker as the folder dialog uses it (see FolderPicker.h).
#include "app/FolderPicker.h"

#include "support/WideText.h"

int BrowseForFolder(HWND owner, const WCHAR *title, const WCHAR *initial, WCHAR *out, size_t capacity)
{
    // The classic picker: its OK accepts only file-system folders.
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial);

    // Null means cancelled.
    LPITEMIDLIST list = SHBrowseForFolderW(&info);
    if (list == nullptr) {
        return BROWSE_CANCELLED;
    }

    // A list without a file-system path gives no text at all, so out
    // keeps the folder it held.
    WCHAR path[MAX_PATH] = {};
    BOOL converted = SHGetPathFromIDListW(list, path);
    FreeItemList(list);

    // A path that does not fit is not cut; out stays as it was.
    if (converted && WideLength(path) < capacity) {
        WideCopy(out, capacity, path);
    }
    return BROWSE_PICKED;
}

int CALLBACK BrowseCallback(HWND picker, UINT message, LPARAM lParam, LPARAM data)
{
    if (message == BFFM_INITIALIZED && data != 0) {
        SendMessageW(picker, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

void FreeItemList(LPITEMIDLIST list)
{
    IMalloc *allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
        allocator->Free(list);
        allocator->Release();
    }
}
