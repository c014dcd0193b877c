// The extraction run: one Cabinet::CExtract over the package file, feeding
// the progress dialog's status text and bar.
#pragma once

#include <cstdint>

#include "cabinet/Extract.h"
#include "platform/Win32.h"

// Extracts the cabinet embedded in the package file modulePath into
// targetFolder (ending in "\" or "/"; "MEMORY\" extracts into memory),
// synchronously on this thread. status and progress are the controls that
// the sinks below update (either may be null); they are kept in g_StatusWnd
// and g_ProgressWnd. True when the whole cabinet was extracted without a
// recorded failure. No folder is created when the package holds no cabinet.
bool RunExtraction(const WCHAR *modulePath, const WCHAR *targetFolder, HWND status, HWND progress);

// OnCopyFile sink: shows the stored file's name (without its directory) in
// g_StatusWnd and repaints it at once. Returns 1: no file is skipped.
int ShowFileName(const Cabinet::CopyFileInfo *info, intptr_t userData);

// OnFileDone sink: advances g_ProgressWnd by one and repaints it at once.
void StepProgress(const WCHAR *outPath, const Cabinet::CMemSink *sink, intptr_t userData);

// OnProgress sink: the bar counts files, so byte progress ends here.
void IgnoreProgress(const Cabinet::ProgressInfo *info, intptr_t userData);
