// The extraction run (see ExtractionRun.h).
#include "app/ExtractionRun.h"

#include "app/EnsureFolder.h"
#include "app/Globals.h"
#include "support/StrBuf.h"

#include <commctrl.h>

namespace {

// The extractor takes its paths as buffers; each copy lives for one call.
bool IsPackageCabinet(Cabinet::CExtract &extract, const WCHAR *modulePath, FDICABINETINFO *info)
{
    CStrBufW path(modulePath);
    return extract.IsCabinet(path, info) != 0;
}

bool CopyPackage(Cabinet::CExtract &extract, const WCHAR *modulePath, const WCHAR *targetFolder)
{
    CStrBufW path(modulePath);
    CStrBufW destination(targetFolder);
    return extract.Copy(path, destination, 0);
}

} // namespace

bool RunExtraction(const WCHAR *modulePath, const WCHAR *targetFolder, HWND status, HWND progress)
{
    // The extractor lives for this call only; the callbacks are
    // assigned as a whole record before Create.
    Cabinet::CExtract extract;
    Cabinet::ExtractCallbacks callbacks;
    callbacks.OnCopyFile = ShowFileName;
    callbacks.OnFileDone = StepProgress;
    callbacks.OnProgress = IgnoreProgress;
    extract.Callbacks = callbacks;

    // The sinks reach the controls through the globals.
    g_StatusWnd = status;
    g_ProgressWnd = progress;

    // A package without a cabinet ends here, before any folder exists.
    if (!extract.Create()) {
        return false;
    }
    FDICABINETINFO info = {};
    if (!IsPackageCabinet(extract, modulePath, &info)) {
        return false;
    }

    // The bar counts files; its position stays at 0.
    if (g_ProgressWnd != nullptr) {
        SendMessageW(g_ProgressWnd, PBM_SETRANGE32, 0, static_cast<LPARAM>(static_cast<uint16_t>(info.cFiles)));
    }

    // The target folder first. The extractor creates each file's folder itself, so a failure here
    // shows up there.
    EnsureFolder(targetFolder);

    // The files, and the result. The extractor unloads Cabinet.dll as it goes out of scope.
    return CopyPackage(extract, modulePath, targetFolder);
}

int ShowFileName(const Cabinet::CopyFileInfo *info, intptr_t)
{
    if (g_StatusWnd != nullptr) {
        SetWindowTextW(g_StatusWnd, info->Name);
        // No message loop turns during the run: paint now.
        UpdateWindow(g_StatusWnd);
    }
    return 1;
}

void StepProgress(const WCHAR *, const Cabinet::CMemSink *, intptr_t)
{
    if (g_ProgressWnd == nullptr) {
        return;
    }
    LRESULT position = SendMessageW(g_ProgressWnd, PBM_GETPOS, 0, 0);
    SendMessageW(g_ProgressWnd, PBM_SETPOS, static_cast<WPARAM>(position + 1), 0);
    UpdateWindow(g_ProgressWnd);
}

void IgnoreProgress(const Cabinet::ProgressInfo *, intptr_t) {}
